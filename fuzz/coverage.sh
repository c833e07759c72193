#!/bin/sh
# Line and branch coverage of the plug-in's sources (lib/, params/, stages/, pipeline/, host/)
# and of the frei0r filter over fuzz corpora, from a build made for it (fuzz/README.md):
# every input run once, the profiles of the target, the module and the filter merged.
#
#   fuzz/coverage.sh COVERAGE_BUILD CORPUS...
set -eu

build=${1:?usage: fuzz/coverage.sh COVERAGE_BUILD CORPUS...}
shift
here=$(cd "$(dirname "$0")/.." && pwd)
profdata=$(command -v llvm-profdata || command -v llvm-profdata-14)
cov=$(command -v llvm-cov || command -v llvm-cov-14)
work=$(mktemp -d "${TMPDIR:-/tmp}/tarnix-fuzzcov.XXXXXX")
trap 'rm -rf "$work"' EXIT

# One raw profile per instrumented binary (%m) and process.
LLVM_PROFILE_FILE="$work/%m-%p.profraw" "$build/fuzz/fuzz_module" -runs=0 "$@" >"$work/run.log" 2>&1 || {
    echo "coverage: the corpus did not run through cleanly (see below)" >&2
    tail -n 20 "$work/run.log" >&2
    exit 1
}
"$profdata" merge -sparse -o "$work/all.profdata" "$work"/*.profraw
module=$(ls "$build"/TarnixAVX2.avx)
filter=$(ls "$build"/frei0r-1/tarnix.so)
report() {
    "$cov" report "$module" -object "$filter" -instr-profile="$work/all.profdata" "$@" | tail -n 1
}
plugin=$(report "$here/lib" "$here/params" "$here/stages" "$here/pipeline" "$here/host")
frei0r=$(report "$here/frei0r")
# TOTAL regions missed cover% functions missed cover% lines missed cover% branches missed cover%
echo "$plugin" | awk '{ printf "plug-in sources: lines %s (%d of %d), branches %s (%d of %d)\n", $10, $8 - $9, $8, $13, $11 - $12, $11 }'
echo "$frei0r" | awk '{ printf "frei0r filter:   lines %s (%d of %d), branches %s (%d of %d)\n", $10, $8 - $9, $8, $13, $11 - $12, $11 }'
