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
# Environment: FUZZ_JOBS, how many fuzzer processes share the kept corpus (default 1; each
# picks up what the others keep); FUZZ_COVERAGE_BUILD, a build made with -fprofile-instr-generate
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

jobs=${FUZZ_JOBS:-1}
case $jobs in '' | *[!0-9]* | 0) echo "fuzz-long: FUZZ_JOBS must be a whole number from 1, not '$jobs'" >&2; exit 2 ;; esac

kept=$build/fuzz/long-corpus
artifacts=$build/fuzz/long-artifacts
mkdir -p "$kept" "$artifacts"
stamp=$(date +%Y%m%d-%H%M%S)
before=$(ls "$kept" | wc -l)
echo "fuzz-long: $seconds s, $jobs process(es), from $here/fuzz/corpus and $kept ($before kept entries)"

started=$(date +%s)
# Slow inputs get less of the fuzzer's attention: a cold start costs as much as a hundred
# small renders and teaches little after the first.
logs=
pids=
job=1
while [ "$job" -le "$jobs" ]; do
    log=$build/fuzz/long-$stamp-$job.log
    logs="$logs $log"
    # shellcheck disable=SC2086
    "$target" "$kept" "$here/fuzz/corpus" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
        -entropic_scale_per_exec_time=1 -print_final_stats=1 -artifact_prefix="$artifacts/" ${FUZZ_ARGS:-} \
        >"$log" 2>&1 &
    pids="$pids $!"
    job=$((job + 1))
done
status=0
for pid in $pids; do
    wait "$pid" || { s=$?; [ "$status" -ne 0 ] || status=$s; }
done
ended=$(date +%s)

# A figure from every log's final statistics, and their sum.
stat() {
    for log in $logs; do sed -n "s/^stat::$1: *//p" "$log" | tail -n 1; done
}
total() { stat "$1" | awk '{ s += $1 } END { print s + 0 }'; }
echo "fuzz-long: exit status $status after $((ended - started)) s wall; logs:$logs"
echo "  executions:       $(total number_of_executed_units) (per process: $(stat number_of_executed_units | tr '\n' ' '))"
echo "  executions/s:     $(total average_exec_per_sec) (per process: $(stat average_exec_per_sec | tr '\n' ' '))"
echo "  new corpus units: $(total new_units_added) (kept corpus now $(ls "$kept" | wc -l) entries)"
echo "  peak RSS:         $(stat peak_rss_mb | sort -n | tail -n 1) MB (largest process)"
for log in $logs; do
    last=$(grep -E '^#[0-9]+' "$log" | grep ' cov: ' | tail -n 1)
    echo "  fuzzer coverage:  $(echo "$last" | grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+/[0-9]+[a-zA-Z]*')"
done

coverage=${FUZZ_COVERAGE_BUILD:-$build-cov}
if [ -x "$coverage/fuzz/fuzz_module" ]; then
    "$here/fuzz/coverage.sh" "$coverage" "$kept" "$here/fuzz/corpus" | sed 's/^/  /'
fi

# Slow units are written too; they are worth a look, not a failure.
# shellcheck disable=SC2086
written=$(cat $logs | sed -n 's/.*Test unit written to \(.*\)$/\1/p')
crashes=$(echo "$written" | grep -v '/slow-unit-')
slow=$(echo "$written" | grep '/slow-unit-')
[ -z "$slow" ] || echo "  slow inputs:      $slow"
[ "$status" -eq 72 ] && [ -z "$crashes" ] && echo "fuzz-long: interrupted" && exit 1
if [ -n "$crashes" ] || [ "$status" -ne 0 ]; then
    echo "fuzz-long: FAILED; reproduce with $target <file>:"
    for c in $crashes; do echo "  $c"; done
    # shellcheck disable=SC2086
    cat $logs | grep -m 5 -E '^(==[0-9]+==ERROR|SUMMARY|fuzz_module)' | sed 's/^/  /'
    exit 1
fi
echo "fuzz-long: no crash"
