#!/usr/bin/env bash
# Converts the example and every end-to-end stack, and has admesh, an independent mesh checker,
# confirm that each STL is one closed part: no disconnected facet in the file as written.
# usage: admesh_check.sh VOXWRAP SOURCE_DIR
set -euo pipefail
voxwrap=$1
src=$2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
check() {
  "$voxwrap" "$1" - "$2" "$out/hull.stl"
  report=$(admesh "$out/hull.stl")
  disconnected=$(sed -n 's/^Total disconnected facets *: *\([0-9]*\).*/\1/p' <<<"$report")
  parts=$(sed -n 's/^Number of parts *: *\([0-9]*\).*/\1/p' <<<"$report")
  if [ "$disconnected" != 0 ] || [ "$parts" != 1 ]; then
    echo "$1: $disconnected disconnected facets, $parts parts"
    return 1
  fi
  echo "$1: closed"
}
check "$src/examples/mug/slices" 1000-4095
for stack in "$src"/tests/data/cli/*/slices; do
  case $stack in
    */disc/*) check "$stack" 100-255 ;;
    */sizes/*) check "$stack" 0 ;;
    *) check "$stack" 1000-4095 ;;
  esac
done
