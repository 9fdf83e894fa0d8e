#!/bin/sh
# Runs the libFuzzer builds of the fuzz targets: run-fuzzers.sh BUILD_DIR [TARGET...]
# Each target runs FUZZ_SECONDS (default 60), FUZZ_JOBS at once (default 4), starting from its
# checked-in corpus (read only) and keeping what it learns in BUILD_DIR/fuzz-corpus/<target>.
# A crashing, leaking or slow input is written to tests/fuzz/findings/<target>/; the log of each
# run is BUILD_DIR/fuzz-logs/<target>.log. Exits non-zero when any target found something.
set -u
# Inputs name any host: the transport reaches only this machine's loopback.
export FW_LOOPBACK_ONLY=1
build=$1
shift
seconds=${FUZZ_SECONDS:-60}
jobs=${FUZZ_JOBS:-4}
here=$(cd "$(dirname "$0")" && pwd)

targets="$*"
if [ -z "$targets" ]; then
    targets=$(cd "$here/targets" && ls *.cpp | sed 's/\.cpp$//')
fi

mkdir -p "$build/fuzz-logs" "$build/fuzz-corpus"
for t in $targets; do
    mkdir -p "$build/fuzz-corpus/$t" "$here/findings/$t" "$here/corpus/$t"
done

echo "fuzzing for ${seconds}s each, $jobs at once:" $targets
printf '%s\n' $targets | xargs -P "$jobs" -I{} sh -c '
    t={}
    "$0/tests/fuzz/fuzz_$t" -max_total_time="$1" -timeout=10 -rss_limit_mb=2560 -max_len=65536 \
        -print_final_stats=1 -artifact_prefix="$2/findings/$t/" \
        "$0/fuzz-corpus/$t" "$2/corpus/$t" >"$0/fuzz-logs/$t.log" 2>&1
    echo "$t: exit $?"
' "$build" "$seconds" "$here"

status=0
printf '%-22s %12s %8s %8s %s\n' target executions cov ft findings
for t in $targets; do
    log="$build/fuzz-logs/$t.log"
    runs=$(LC_ALL=C sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    cov=$(grep -ao 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    ft=$(grep -ao 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    found=$(ls "$here/findings/$t" | wc -l)
    printf '%-22s %12s %8s %8s %s\n' "$t" "${runs:-?}" "${cov:-?}" "${ft:-?}" "$found"
    [ "$found" -eq 0 ] && grep -aq '^stat::number_of_executed_units' "$log" || status=1
done
exit $status
