#!/usr/bin/env bash
# The Windows executables: cross-built with mingw-w64 and tested under wine
# (the end-to-end suite and the cases only Windows has).
set -euo pipefail
build=build-win
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  echo "x86_64-w64-mingw32-g++-posix missing: install g++-mingw-w64-x86-64-posix and wine64" >&2
  exit 1
fi
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure -j2
# Shipped without a symbol table.
for program in rakemo lusivo; do
  file "$build/$program.exe" | grep -q 'stripped' || { echo "$program.exe is not stripped" >&2; exit 1; }
done
