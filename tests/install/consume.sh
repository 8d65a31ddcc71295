#!/usr/bin/env bash
# Installs a build into a temporary prefix, checks the installed layout, and
# builds and runs the example hosts against it from outside the source tree:
# once through the CMake package, once through pkg-config (each C++ compiler,
# C++17 and C++20, and the C compiler).
# Usage: consume.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

so=$(find "$prefix" -name libvox_nosql_lib_local_mem.so)
lib=$(dirname "$so")
[ "$(readlink "$so")" = libvox_nosql_lib_local_mem.so.0 ]
[ "$(readlink "$lib/libvox_nosql_lib_local_mem.so.0")" = libvox_nosql_lib_local_mem.so.0.2.2 ]
readelf -d "$so" | grep -q 'SONAME.*\[libvox_nosql_lib_local_mem.so.0\]'
[ -f "$prefix/include/vox_nosql.h" ] && [ -f "$prefix/include/vox_nosql.hpp" ]
echo 'k' | (cd "$tmp" && "$prefix/bin/vox_shell" >/dev/null 2>&1)  # finds the library by itself

mkdir "$tmp/consumer" "$tmp/run"
cp "$src/examples/hello.c" "$src/examples/hello.cpp" "$tmp/consumer/"
cat >"$tmp/consumer/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.16)
project(consumer C CXX)
find_package(vox_nosql CONFIG REQUIRED)
add_executable(hello_c hello.c)
target_link_libraries(hello_c PRIVATE vox_nosql::vox_nosql)
add_executable(hello_cpp hello.cpp)
set_target_properties(hello_cpp PROPERTIES CXX_STANDARD 17 CXX_STANDARD_REQUIRED ON)
target_link_libraries(hello_cpp PRIVATE vox_nosql::vox_nosql)
CMAKE
passed=0
run() {  # runs a consumer in a scratch directory; it checks its own answers
  (cd "$tmp/run" && "$@" >out 2>&1) || { cat "$tmp/run/out"; echo "FAILED: $*"; exit 1; }
  passed=$((passed + 1))
}
cmake -S "$tmp/consumer" -B "$tmp/consumer/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
ninja -C "$tmp/consumer/build" >/dev/null
run "$tmp/consumer/build/hello_c"
run "$tmp/consumer/build/hello_cpp"

export PKG_CONFIG_PATH=$lib/pkgconfig
read -r -a flags <<<"$(pkg-config --cflags --libs vox_nosql)"
for cxx in g++ clang++; do
  for std in 17 20; do
    "$cxx" -std=c++$std -Wall -Wextra -Werror "$tmp/consumer/hello.cpp" "${flags[@]}" -Wl,-rpath,"$lib" \
      -o "$tmp/hello_$cxx$std"
    run "$tmp/hello_$cxx$std"
  done
done
cc -std=c99 -Wall -Werror "$tmp/consumer/hello.c" "${flags[@]}" -Wl,-rpath,"$lib" -o "$tmp/hello_c99"
run "$tmp/hello_c99"
echo "install and consume: $passed passed, 0 failed"
