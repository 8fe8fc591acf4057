#!/usr/bin/env bash
# The library defines no global symbol outside namespace voxwrap, so a host program can link it
# beside anything: every defined symbol of the archive either names voxwrap (in its mangled
# form) or is the standard library's own (template instantiations, their local statics, and the
# compiler's type-info references). Prints any other and fails.
set -euo pipefail
archive=${1:?usage: symbols.sh libvoxwrap_core.a}
foreign=$(nm --defined-only "$archive" 2>/dev/null |
  awk 'NF == 3 && $2 ~ /[TWDBRVu]/ {print $3}' |
  grep -v -E '7voxwrap|^_ZN?K?St|^_ZN?K?9__gnu_cxx|^_ZT[ISV]St|^_ZZN?K?St|^DW\.ref\.' | sort -u || true)
if [ -n "$foreign" ]; then
  echo "symbols outside namespace voxwrap:"
  echo "$foreign" | c++filt
  exit 1
fi
# Nor does any library source reach for the process's streams, signals or file mode mask: only the
# command line (cli/) may.
root=$(cd "$(dirname "$0")/.." && pwd)
if grep -rnwE 'stderr|stdout|signal|sigaction|umask|isatty|std::cerr|std::cout' \
  "$root"/common "$root"/slices "$root"/sample "$root"/tiff "$root"/hull "$root"/mesh \
  "$root"/include; then
  echo "the library touches what only the command line may"
  exit 1
fi
echo "every symbol of $archive is voxwrap's or the standard library's; no process-wide state"
