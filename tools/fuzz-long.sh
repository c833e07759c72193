#!/bin/sh
# A fuzzing campaign outside `make test`: runs the fuzz target of a fuzz build for HOURS hours
# (fractions too: 0.02 is 72 seconds) from the committed corpus and the corpus earlier
# campaigns kept in the build folder, where new entries go. Prints the executions, the speed,
# the fuzzer's coverage figures and, when a coverage build is at hand, line and branch coverage
# of the plug-in's sources over the kept corpus; names the reproducer of any crash and then
# exits non-zero.
#
#   tools/fuzz-long.sh FUZZ_BUILD HOURS
#
# Environment: FUZZ_COVERAGE_BUILD, a build made with -fprofile-instr-generate
# -fcoverage-mapping (see fuzz/README.md; default FUZZ_BUILD-cov when it exists);
# FUZZ_ARGS, more libFuzzer flags.
set -u

build=${1:?usage: tools/fuzz-long.sh FUZZ_BUILD HOURS}
hours=${2:?usage: tools/fuzz-long.sh FUZZ_BUILD HOURS}
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$build" && pwd)
target=$build/fuzz/fuzz_module
[ -x "$target" ] || { echo "fuzz-long: no fuzz target in $build/fuzz" >&2; exit 2; }
seconds=$(awk -v h="$hours" 'BEGIN { s = int(h * 3600 + 0.5); if (h !~ /^[0-9]*\.?[0-9]+$/ || s < 1) exit 1; print s }') || {
    echo "fuzz-long: HOURS must be a positive number, not '$hours'" >&2
    exit 2
}

kept=$build/fuzz/long-corpus
artifacts=$build/fuzz/long-artifacts
mkdir -p "$kept" "$artifacts"
log=$build/fuzz/long-$(date +%Y%m%d-%H%M%S).log
before=$(ls "$kept" | wc -l)
echo "fuzz-long: $seconds s from $here/fuzz/corpus and $kept ($before kept entries); log $log"

started=$(date +%s)
# Slow inputs get less of the fuzzer's attention: a cold start costs as much as a hundred
# small renders and teaches little after the first.
# shellcheck disable=SC2086
"$target" "$kept" "$here/fuzz/corpus" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
    -entropic_scale_per_exec_time=1 -print_final_stats=1 -artifact_prefix="$artifacts/" ${FUZZ_ARGS:-} \
    >"$log" 2>&1
status=$?
ended=$(date +%s)

stat() { sed -n "s/^stat::$1: *//p" "$log" | tail -n 1; }
echo "fuzz-long: exit status $status after $((ended - started)) s wall"
echo "  executions:       $(stat number_of_executed_units)"
echo "  executions/s:     $(stat average_exec_per_sec)"
echo "  new corpus units: $(stat new_units_added) (kept corpus now $(ls "$kept" | wc -l) entries)"
echo "  peak RSS:         $(stat peak_rss_mb) MB"
last=$(grep -E '^#[0-9]+' "$log" | grep ' cov: ' | tail -n 1)
echo "  fuzzer coverage:  $(echo "$last" | grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+/[0-9]+[a-zA-Z]*')"

coverage=${FUZZ_COVERAGE_BUILD:-$build-cov}
if [ -x "$coverage/fuzz/fuzz_module" ]; then
    "$here/fuzz/coverage.sh" "$coverage" "$kept" "$here/fuzz/corpus" | sed 's/^/  /'
fi

# Slow units are written too; they are worth a look, not a failure.
crashes=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | grep -v '/slow-unit-')
slow=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | grep '/slow-unit-')
[ -z "$slow" ] || echo "  slow inputs:      $slow"
[ "$status" -eq 72 ] && [ -z "$crashes" ] && echo "fuzz-long: interrupted" && exit 1
if [ -n "$crashes" ] || [ "$status" -ne 0 ]; then
    echo "fuzz-long: FAILED; reproduce with $target <file>:"
    for c in $crashes; do echo "  $c"; done
    grep -m 5 -E '^(==[0-9]+==ERROR|SUMMARY|fuzz_module)' "$log" | sed 's/^/  /'
    exit 1
fi
echo "fuzz-long: no crash"
