# Installation: the public header, the shared library (versioned soname), the
# command-line program, a CMake package (find_package(plenvo CONFIG) gives
# plenvo::plenvo) and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(PLENVO_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/plenvo" CACHE STRING
    "Where the CMake package files of plenvo are installed (relative to the prefix)")

install(TARGETS plenvo EXPORT plenvoTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET plenvo_cli)
  install(TARGETS plenvo_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(EXPORT plenvoTargets NAMESPACE plenvo:: FILE plenvoTargets.cmake
        DESTINATION ${PLENVO_CMAKE_DIR})
configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/plenvoConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/plenvoConfig.cmake
  INSTALL_DESTINATION ${PLENVO_CMAKE_DIR})
write_basic_package_version_file(
  ${CMAKE_CURRENT_BINARY_DIR}/plenvoConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/plenvoConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/plenvoConfigVersion.cmake
        DESTINATION ${PLENVO_CMAKE_DIR})

# pkg-config: the prefix is found relative to the .pc file, so the installed
# tree may be moved or installed with "cmake --install --prefix DIR".
set(_plenvo_pc_dir "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
file(RELATIVE_PATH _plenvo_pc_up "/prefix/${_plenvo_pc_dir}" "/prefix")
string(REGEX REPLACE "/$" "" _plenvo_pc_up "${_plenvo_pc_up}")
set(PLENVO_PC_PREFIX "\${pcfiledir}/${_plenvo_pc_up}")
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(PLENVO_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  set(PLENVO_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(PLENVO_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(PLENVO_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/plenvo.pc.in ${CMAKE_CURRENT_BINARY_DIR}/plenvo.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/plenvo.pc DESTINATION ${_plenvo_pc_dir})

include(${CMAKE_CURRENT_LIST_DIR}/install_python.cmake)
