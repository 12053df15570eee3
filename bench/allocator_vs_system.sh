#!/usr/bin/env bash
# Real work with global new and delete served by the slot allocator against the same work with
# the system allocator, in one run: scanning and parsing a generated script program
# (script_parse_bench against script_parse_slot_new), parsing a generated XML file (xml_parse_bench
# against xml_parse_slot_new), and writing a bundle of a tree of many small files (bundle_write
# against bundle_write_slot_new). Prints medians and ratios.
# Usage: bench/allocator_vs_system.sh [build-dir] [rounds]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
rounds=${2:-9}
generators=${TROVEX_BENCH_GENERATORS:-$root/../shared/bench}
work=$(mktemp -d /dev/shm/trovex-allocator-bench.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 "$generators/gen_ksf.py" "$work/program.ksf" 100000 1
python3 "$generators/gen_xml.py" "$work/content.xml" 20971520 1 >/dev/null
export TROVEX_BENCH_KSF="$work/program.ksf" TROVEX_XML_BENCH_FILE="$work/content.xml"
# The median CPU time in ms of one benchmark (program, name filter) of Google Benchmark.
median_ms() {
    "$1" --benchmark_filter="$2" --benchmark_repetitions="$rounds" --benchmark_report_aggregates_only=true \
        --benchmark_format=json 2>/dev/null |
        python3 -c 'import json, sys; print(next(r["cpu_time"] for r in json.load(sys.stdin)["benchmarks"] if r.get("aggregate_name") == "median"))'
}
system_parse=$(median_ms "$build/script_parse_bench" BM_ScanAndParse)
slot_parse=$(median_ms "$build/script_parse_slot_new" BM_ScanAndParse)
system_xml=$(median_ms "$build/xml_parse_bench" BM_ParseText)
slot_xml=$(median_ms "$build/xml_parse_slot_new" BM_ParseText)

# 20000 files of 1 KiB on average: the allocation of paths and entries weighs more than copying.
python3 "$generators/gen_tree.py" "$work/tree" 20000 20971520 1 >/dev/null
cpu_ms() {
    /usr/bin/time -f "%U %S" -o "$work/time" "$@" >/dev/null
    awk '{printf "%d\n", ($1 + $2) * 1000}' "$work/time"
}
: >"$work/system.runs"; : >"$work/slot.runs"
for _ in $(seq "$rounds"); do
    cpu_ms "$build/bundle_write" "$work/tree" "$work/out.bundle" >>"$work/system.runs"
    cpu_ms "$build/bundle_write_slot_new" "$work/tree" "$work/out.bundle" >>"$work/slot.runs"
done
median() { sort -n "$1" | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

awk -v sp="$system_parse" -v lp="$slot_parse" -v sx="$system_xml" -v lx="$slot_xml" -v sb="$(median "$work/system.runs")" \
    -v lb="$(median "$work/slot.runs")" -v rounds="$rounds" 'BEGIN {
    printf "median CPU time of %d rounds      system     slot   slot / system\n", rounds
    printf "  scan+parse, 100000 lines    %7.1f ms %6.1f ms   %.3f\n", sp, lp, lp / sp
    printf "  XML parse, 20 MiB           %7.1f ms %6.1f ms   %.3f\n", sx, lx, lx / sx
    printf "  bundle of 20000 files       %7d ms %6d ms   %.3f\n", sb, lb, lb / sb
}'
