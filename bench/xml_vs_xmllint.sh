#!/usr/bin/env bash
# Times the XML parser against xmllint --noout on the same files in one run: a generated 50 MB
# content file and a real file reduced to the dialect, both made in a temporary directory (tmpfs
# when there is one). Prints medians of five runs and the ratios. Times are CPU seconds (user +
# system) on every side: on a machine shared with other work, wall time mostly measures the wait.
# Usage: bench/xml_vs_xmllint.sh [build-dir] [generators-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
generators=${2:-../shared/bench}
scratch=$(mktemp -d "$( [ -d /dev/shm ] && echo /dev/shm || echo /tmp )/trovex-xml-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

python3 "$generators/gen_xml.py" "$scratch/content.xml" 52428800 1 >/dev/null
real=/usr/share/mime/packages/freedesktop.org.xml
[ -f "$real" ] && python3 "$generators/xml_subset.py" "$real" "$scratch/freedesktop.xml"

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
seconds() { # command... -> median CPU seconds of five runs
    for _ in 1 2 3 4 5; do
        /usr/bin/time -f '%U + %S' -o "$scratch/time" "$@" >/dev/null 2>&1 || true
        tail -n 1 "$scratch/time" | bc -l
    done | median
}

printf '%-16s %7s %9s %11s %13s %14s %8s %10s\n' file MB "parse ms" "parse MB/s" "xmllint MB/s" "parse/xmllint" "xmb ms" "xmb/parse"
for file in "$scratch"/*.xml; do
    mb=$(echo "$(stat -c %s "$file") / 1048576" | bc -l)
    result=$(TROVEX_XML_BENCH_FILE="$file" "$build/xml_parse_bench" --benchmark_repetitions=5 \
        --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null | grep '_median')
    parse=$(echo "$result" | awk -F, '/BM_ParseText_median/ { print $4 / 1000 }')   # CPU ms -> s
    binary=$(echo "$result" | awk -F, '/BM_ReadBinary_median/ { print $4 / 1000 }')
    xmllint=$(seconds xmllint --noout "$file")
    printf '%-16s %7.1f %9.1f %11.1f %13.1f %14.2f %8.1f %10.2f\n' "$(basename "$file")" "$mb" \
        "$(echo "$parse * 1000" | bc -l)" "$(echo "$mb / $parse" | bc -l)" \
        "$(echo "$mb / $xmllint" | bc -l)" "$(echo "$xmllint / $parse" | bc -l)" \
        "$(echo "$binary * 1000" | bc -l)" "$(echo "$parse / $binary" | bc -l)"
done

# The whole command, writing the .xmb, for the record.
cp "$scratch/content.xml" "$scratch/command.xml"
echo "trovex compile-xml on content.xml: $(seconds "$build/trovex" compile-xml "$scratch/command.xml") s"
echo "xmllint --noout on content.xml:    $(seconds xmllint --noout "$scratch/content.xml") s"
