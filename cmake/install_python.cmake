# The Python package, into a site-packages folder when one is given
# (-DPLENVO_PYTHON_SITE_PACKAGES=DIR; relative to the prefix unless absolute),
# with its metadata, so that pip lists and uninstalls it, and the installed
# library's path recorded beside it (plenvo/library_location.txt), so that it
# loads the library of this installation. Component "python".
set(PLENVO_PYTHON_SITE_PACKAGES "" CACHE STRING
    "Install the Python package into this site-packages folder (empty: not installed)")
if(PLENVO_PYTHON_SITE_PACKAGES)
  set(_plenvo_py_dir "${PLENVO_PYTHON_SITE_PACKAGES}")
  set(_plenvo_py_src "${PROJECT_SOURCE_DIR}/python/plenvo")
  set(_plenvo_py_gen "${CMAKE_CURRENT_BINARY_DIR}/python-install")
  set(_plenvo_dist "plenvo-${PROJECT_VERSION}.dist-info")
  install(FILES ${_plenvo_py_src}/__init__.py ${_plenvo_py_src}/_loader.py ${_plenvo_py_src}/py.typed
          DESTINATION "${_plenvo_py_dir}/plenvo" COMPONENT python)
  # Where the library lands, known only at install time (--prefix may move it).
  if(WIN32)
    set(_plenvo_lib_rel "${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:plenvo>")
  else()
    set(_plenvo_lib_rel "${CMAKE_INSTALL_LIBDIR}/$<TARGET_SONAME_FILE_NAME:plenvo>")
  endif()
  install(CODE "
    set(_lib \"${_plenvo_lib_rel}\")
    if(NOT IS_ABSOLUTE \"\${_lib}\")
      set(_lib \"\${CMAKE_INSTALL_PREFIX}/\${_lib}\")
    endif()
    file(WRITE \"${_plenvo_py_gen}/library_location.txt\" \"\${_lib}\\n\")
    file(WRITE \"${_plenvo_py_gen}/METADATA\"
         \"Metadata-Version: 2.1\\nName: plenvo\\nVersion: ${PROJECT_VERSION}\\nSummary: ${PROJECT_DESCRIPTION}\\nRequires-Python: >=3.8\\n\")
    file(WRITE \"${_plenvo_py_gen}/INSTALLER\" \"cmake\\n\")
    set(_files plenvo/__init__.py plenvo/_loader.py plenvo/py.typed plenvo/library_location.txt
               ${_plenvo_dist}/METADATA ${_plenvo_dist}/INSTALLER ${_plenvo_dist}/RECORD)
    string(REPLACE \";\" \",,\\n\" _record \"\${_files}\")
    file(WRITE \"${_plenvo_py_gen}/RECORD\" \"\${_record},,\\n\")
  " COMPONENT python)
  install(FILES ${_plenvo_py_gen}/library_location.txt
          DESTINATION "${_plenvo_py_dir}/plenvo" COMPONENT python)
  install(FILES ${_plenvo_py_gen}/METADATA ${_plenvo_py_gen}/INSTALLER ${_plenvo_py_gen}/RECORD
          DESTINATION "${_plenvo_py_dir}/${_plenvo_dist}" COMPONENT python)
endif()
