#!/usr/bin/env bash
# Times the XML parser against xmllint --noout on the same files in one run: a generated 50 MB
# content file and a real file reduced to the dialect, both made in a temporary directory (tmpfs
# when there is one). Prints medians of five runs and the ratios.
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
seconds() { # command... -> median wall seconds of five runs
    for _ in 1 2 3 4 5; do
        local start end
        start=$(date +%s.%N)
        "$@" >/dev/null 2>&1 || true
        end=$(date +%s.%N)
        echo "$end - $start" | bc -l
    done | median
}

printf '%-18s %10s %12s %12s %12s %10s %14s\n' file MB "parse MB/s" "xmllint MB/s" "parse/xmllint" "xmb MB/s" "xmb/parse"
for file in "$scratch"/*.xml; do
    mb=$(echo "$(stat -c %s "$file") / 1048576" | bc -l)
    result=$(TROVEX_XML_BENCH_FILE="$file" "$build/xml_parse_bench" --benchmark_repetitions=5 \
        --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null | grep '_median')
    parse=$(echo "$result" | awk -F, '/BM_ParseText_median/ { print $3 / 1000 }')   # real ms -> s
    binary=$(echo "$result" | awk -F, '/BM_ReadBinary_median/ { print $3 / 1000 }')
    xmllint=$(seconds xmllint --noout "$file")
    printf '%-18s %10.1f %12.1f %12.1f %12.2f %10.1f %14.2f\n' "$(basename "$file")" "$mb" \
        "$(echo "$mb / $parse" | bc -l)" "$(echo "$mb / $xmllint" | bc -l)" \
        "$(echo "$xmllint / $parse" | bc -l)" "$(echo "$mb / $binary" | bc -l)" \
        "$(echo "$parse / $binary" | bc -l)"
done

# The whole command, writing the .xmb, for the record.
cp "$scratch/content.xml" "$scratch/command.xml"
echo "trovex compile-xml on content.xml: $(seconds "$build/trovex" compile-xml "$scratch/command.xml") s"
echo "xmllint --noout on content.xml:    $(seconds xmllint --noout "$scratch/content.xml") s"
