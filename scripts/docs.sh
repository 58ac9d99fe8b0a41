#!/usr/bin/env bash
# The HTML reference of the public header, with Doxygen: scripts/docs.sh [OUTPUT_DIR]
# (default build/docs; the pages are in OUTPUT_DIR/html). Any Doxygen warning fails it.
source "$(dirname "$0")/lib.sh"
need_packages doxygen
out="${1:-$BUILD/docs}"
version="$(sed -n 's/^project(korvelan380 VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")"
mkdir -p "$out"
cd "$ROOT"
{
  cat docs/Doxyfile
  echo "PROJECT_NUMBER = $version"
  echo "OUTPUT_DIRECTORY = $out"
} | doxygen -
echo "API reference: $out/html/index.html"
