#!/usr/bin/env bash
# Times scanning and parsing of a generated script program against luac5.4 -p on the Lua program of
# the same shape and size, in one run, and prints medians and the ratio.
# Usage: bench/script_parse_vs_luac.sh [build-dir] [lines]
# The generators come from the shared bench folder beside the checkout (TROVEX_BENCH_GENERATORS).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
lines=${2:-100000}
generators=${TROVEX_BENCH_GENERATORS:-$root/../shared/bench}
rounds=7

command -v luac5.4 >/dev/null || { echo "luac5.4 is missing (apt-get install lua5.4)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$generators/gen_ksf.py" "$work/program.ksf" "$lines" 1
python3 "$generators/gen_lua.py" "$work/program.lua" "$lines" 1

TROVEX_BENCH_KSF="$work/program.ksf" "$build/script_parse_bench" --benchmark_repetitions=$rounds \
    --benchmark_report_aggregates_only=true --benchmark_format=json >"$work/trovex.json"

# luac: wall time of each whole run, process start and file reading included.
for _ in $(seq $rounds); do
    start=$(date +%s%N)
    luac5.4 -p "$work/program.lua"
    echo $(( $(date +%s%N) - start ))
done >"$work/luac.times"

python3 - "$work/trovex.json" "$work/luac.times" "$lines" <<'PY'
import json, statistics, sys
report, times, lines = sys.argv[1], sys.argv[2], int(sys.argv[3])
rows = json.load(open(report))["benchmarks"]
median_ms = next(r["real_time"] for r in rows if r.get("aggregate_name") == "median")
luac_ms = statistics.median(int(t) for t in open(times)) / 1e6
print(f"{lines} lines")
print(f"trovex scan+parse: {median_ms:8.1f} ms  {lines / median_ms * 1000:12.0f} lines/s (median)")
print(f"luac5.4 -p:        {luac_ms:8.1f} ms  {lines / luac_ms * 1000:12.0f} lines/s (median)")
print(f"ratio (trovex speed / luac speed): {luac_ms / median_ms:.2f}")
PY
