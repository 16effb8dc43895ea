#!/usr/bin/env bash
# Installs the build ($1) into a temporary prefix and builds small programs
# against the installed tree: through find_package(plenvo CONFIG), through
# pkg-config, and the public header alone as C and as C++.
# Packages: pkg-config
set -uo pipefail
build=$(cd "${1:?usage: 50-package.sh BUILD_DIR}" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix="$tmp/prefix"
passed=0
failed=0

# check NAME COMMAND...: runs the command, prints its output only on failure.
check() {
    local name=$1
    shift
    if "$@" >"$tmp/log" 2>&1; then
        passed=$((passed + 1))
        echo "ok   $name"
    else
        failed=$((failed + 1))
        echo "FAIL $name"
        sed 's/^/     /' "$tmp/log"
    fi
}

version=$(sed -nE 's/^project\(plenvo VERSION ([0-9.]+).*/\1/p' "$root/CMakeLists.txt")

install_tree() {
    cmake --install "$build" --prefix "$prefix"
}

installed_files() {
    local f
    for f in include/plenvo.h lib/libplenvo.so "lib/libplenvo.so.${version%%.*}" \
             "lib/libplenvo.so.$version" bin/plenvo lib/cmake/plenvo/plenvoConfig.cmake \
             lib/cmake/plenvo/plenvoConfigVersion.cmake lib/pkgconfig/plenvo.pc; do
        [ -e "$prefix/$f" ] || { echo "missing: $f"; return 1; }
    done
    # The soname carries the major version only.
    readelf -d "$prefix/lib/libplenvo.so.$version" | grep -q "SONAME.*\[libplenvo\.so\.${version%%.*}\]"
}

installed_cli() {
    [ "$("$prefix/bin/plenvo" --version)" = "plenvo $version" ]
}

python3 "$root/tools/make-sample.py" "$tmp/sample.pdf" >/dev/null 2>&1 \
    || printf '%s' "" >"$tmp/sample.pdf"

cmake_consumer() {
    cmake -S "$root/tests/package/cmake-consumer" -B "$tmp/cmake-consumer" \
          -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release &&
    cmake --build "$tmp/cmake-consumer" &&
    "$tmp/cmake-consumer/consumer_c" "$tmp/sample.pdf" "$tmp/out-cmake.pdf" &&
    "$tmp/cmake-consumer/consumer_cxx"
}

# A newer major version than the one installed is refused.
cmake_version_check() {
    if cmake -S "$root/tests/package/cmake-consumer" -B "$tmp/cmake-consumer-v2" \
             -DCMAKE_PREFIX_PATH="$prefix" -DPLENVO_WANT_VERSION=$(( ${version%%.*} + 1 )).0 \
             >"$tmp/v2.log" 2>&1; then
        echo "configured against a newer major version"
        return 1
    fi
    grep -q "considered but not accepted" "$tmp/v2.log" || { cat "$tmp/v2.log"; return 1; }
}

pkgconfig_consumer() {
    export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
    [ "$(pkg-config --modversion plenvo)" = "$version" ] || { echo "pkg-config version"; return 1; }
    # shellcheck disable=SC2046
    cc -std=c99 -Wall -Wextra -Werror -o "$tmp/consumer_pc" "$root/tests/package/consumer.c" \
       $(pkg-config --cflags --libs plenvo) -Wl,-rpath,"$(pkg-config --variable=libdir plenvo)" &&
    "$tmp/consumer_pc" "$tmp/sample.pdf" "$tmp/out-pc.pdf"
}

header_as_c() {
    printf '#include <plenvo.h>\n#include <plenvo.h>\n' >"$tmp/only.c"
    gcc -std=c99 -Wall -Wextra -Werror -pedantic -I"$prefix/include" -c "$tmp/only.c" -o "$tmp/only_c.o" &&
    gcc -std=c89 -Wall -Werror -pedantic -I"$prefix/include" -c "$tmp/only.c" -o "$tmp/only_c89.o"
}

header_as_cxx() {
    printf '#include <plenvo.h>\n#include <plenvo.h>\n' >"$tmp/only.cpp"
    local std
    for std in c++98 c++11 c++20; do
        g++ -std=$std -Wall -Wextra -Werror -pedantic -I"$prefix/include" -c "$tmp/only.cpp" \
            -o "$tmp/only_$std.o" || return 1
    done
}

check "install into a fresh prefix" install_tree
check "installed files and soname" installed_files
check "installed command-line program" installed_cli
check "find_package consumer (C and C++)" cmake_consumer
check "find_package refuses another major version" cmake_version_check
check "pkg-config consumer" pkgconfig_consumer
check "header alone as C" header_as_c
check "header alone as C++" header_as_cxx

echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
