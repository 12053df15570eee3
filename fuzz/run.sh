#!/usr/bin/env bash
# Builds the fuzz programs when needed and runs one target on one core for a number of seconds.
# Usage: fuzz/run.sh TARGET SECONDS [libFuzzer flags...]
# The programs are those of the sanitizer build (build-sanitize/). New inputs go to
# build-sanitize/fuzz/corpus/TARGET (the committed seeds in fuzz/corpus/TARGET stay as they are),
# crashes to build-sanitize/fuzz/artifacts/TARGET/, the output to build-sanitize/fuzz/logs/TARGET.log.
# On a crash, hang, leak or sanitizer report the output and the reproducer (base64 and hex) are
# printed and the exit code is not 0.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 2 ]; then
    echo "usage: fuzz/run.sh TARGET SECONDS [libFuzzer flags...]" >&2
    exit 2
fi
target=$1
seconds=$2
shift 2
if [ ! -d "fuzz/corpus/$target" ]; then
    echo "unknown target $target; the targets are: $(ls fuzz/corpus | tr '\n' ' ')" >&2
    exit 2
fi

# Several runs may start at once: one builds, the others wait for it.
mkdir -p build-sanitize
flock build-sanitize/.fuzz-setup.lock bash scripts/setup --fuzz >/dev/null

# The text formats have dictionaries of their words and marks.
dictionary=()
case "$target" in
    xml_text|load_log) dictionary=(-dict=fuzz/dictionaries/xml.dict) ;;
    xml_expression) dictionary=(-dict=fuzz/dictionaries/expression.dict) ;;
    script_compiler) dictionary=(-dict=fuzz/dictionaries/script.dict) ;;
esac

work=build-sanitize/fuzz
corpus=$work/corpus/$target
artifacts=$work/artifacts/$target
log=$work/logs/$target.log
mkdir -p "$corpus" "$artifacts" "$work/logs"
rm -f "$artifacts"/*

# An input that takes 30 s or 2 GB is a hang or an unbounded allocation. Using up a load's
# whole define budget takes about 10 s under the sanitizers on a busy machine, and is no fault.
status=0
"build-sanitize/fuzz_$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -max_len=4096 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "${dictionary[@]}" "$@" \
    "$corpus" "fuzz/corpus/$target" >"$log" 2>&1 || status=$?

if [ "$status" -ne 0 ]; then
    cat "$log"
    for reproducer in "$artifacts"/*; do
        [ -f "$reproducer" ] || continue
        echo "==== reproducer $reproducer (replay: build-sanitize/fuzz_$target FILE); base64:"
        base64 "$reproducer"
        echo "==== hex:"
        od -A x -t x1z -v "$reproducer" | head -n 256
    done
    echo "fuzz target $target FAILED" >&2
    exit 1
fi
# The run's figures: executions, coverage and corpus size.
runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$' || true)
last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
echo "fuzz target $target: ${runs:-?} executions in $seconds s; last status: $last"
