#!/usr/bin/env bash
# trovex on one core against the peer doing the same work, everything in a tmpfs, in one run:
# compile-xml of one large file against xmllint --noout and a pugixml loader, compile-scripts of
# one long script against luac5.4 -o, compile-scripts -j 1 of a tree against one lua5.4 process
# that loads and dumps every Lua twin, and quick-bundle -j 1 of many small files against tar -cf.
# Each pair alternates for the rounds after a warm-up. Prints one table: the work, the peer, the
# medians of wall time and their ratio with its target, the median CPU time (user + system: the
# fairer figure on a shared machine) of both, and the median peak memory of both with its target.
# Usage: bench/single_core_bench.sh [build-dir] [tmpfs-directory] [rounds] [xml-bytes]
#                                   [big-xml-bytes] [script-lines] [scripts] [small-files]
# Defaults: build /dev/shm 5 52428800 209715200 100000 2000 300000. A smoke run:
#   bench/single_core_bench.sh build /dev/shm 1 1000000 2000000 2000 20 1000
# The pugixml loader is built from the generators' folder (needs libpugixml-dev) unless
# TROVEX_BENCH_PUGIXML names one.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}
target_dir=${2:-/dev/shm}
rounds=${3:-5}
xml_bytes=${4:-52428800}
big_xml_bytes=${5:-209715200}
script_lines=${6:-100000}
scripts=${7:-2000}
small_files=${8:-300000}
generators=${TROVEX_BENCH_GENERATORS:-/work/shared/bench}
trovex="$(pwd)/$build_dir/trovex"
[ -x "$trovex" ] || { echo "build $trovex first (bash scripts/setup)"; exit 1; }
[ -x /usr/bin/time ] || { echo "needs GNU time (/usr/bin/time)"; exit 1; }
for tool in xmllint luac5.4 lua5.4 tar; do
    command -v "$tool" > /dev/null || { echo "needs $tool"; exit 1; }
done

source bench/timing.sh
# The large XML file with its binary form, and the peers' trees beside it.
need_memory_mib $(( big_xml_bytes * 6 / 1048576 + 1024 ))
note_unless_tmpfs "$target_dir"
work=$(mktemp -d "$target_dir/trovex-single-core-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
pugixml=${TROVEX_BENCH_PUGIXML:-}
if [ -z "$pugixml" ]; then
    pugixml="$work/pugixml_parse"
    g++ -O2 -o "$pugixml" "$generators/pugixml_parse.cpp" -lpugixml ||
        { echo "cannot build the pugixml loader (apt-get install libpugixml-dev)"; exit 1; }
fi
cd "$work"
: > table

# pair WORK PEER-NAME TARGET MEMORY-TARGET PREPARE -- TROVEX... -- PEER...: times both as
# alternate does; appends a row to the table. MEMORY-TARGET is the most trovex's peak may be as a factor
# of the peer's, or "N/file" for at most N bytes per file of the work.
pair() {
    local work=$1 peer_name=$2 target=$3 memory_target=$4 prepare=$5
    shift 6
    alternate "$rounds" "$prepare" "$@"
    awk -v work="$work" -v peer="$peer_name" -v target="$target" -v mt="$memory_target" \
        -v m="$(column mine.runs 1)" -v p="$(column peer.runs 1)" \
        -v mc="$(column mine.runs 2)" -v pc="$(column peer.runs 2)" \
        -v mm="$(column mine.runs 3)" -v pm="$(column peer.runs 3)" -v files="$small_files" '
        BEGIN {
            memory = sprintf("%.2f", mm / (pm > 0 ? pm : 1)); limit = "<= " mt
            if (mt ~ /\/file$/)
                memory = sprintf("%d B/file", mm * 1024 / files)
            else if (mt == "-")
                limit = ""
            printf "%-34s %-16s %8d %8d %6.2f %7s %8d %8d %9d %9d %11s %12s\n", work, peer, m, p,
                   m / (p > 0 ? p : 1), "<= " target, mc, pc, mm, pm, memory, limit
        }' >> table
}

nothing() { :; }

for size in "$xml_bytes" "$big_xml_bytes"; do
    python3 "$generators/gen_xml.py" content.xml "$size" 1 > /dev/null
    label="compile-xml $(awk -v s="$size" 'BEGIN { printf "%g", s / 1048576 }') MiB"
    pair "$label" "xmllint --noout" 0.5 - nothing -- \
        "$trovex" compile-xml content.xml -- xmllint --noout content.xml
    pair "$label" pugixml_parse 2.0 1.0 nothing -- \
        "$trovex" compile-xml content.xml -- "$pugixml" content.xml
    rm -f content.xml content.xmb
done

python3 "$generators/gen_ksf.py" one.ksf "$script_lines" 1 > /dev/null
python3 "$generators/gen_lua.py" one.lua "$script_lines" 1 > /dev/null
pair "compile-scripts $script_lines lines" "luac5.4 -o" 1.0 3.0 nothing -- \
    "$trovex" compile-scripts one.ksf -- luac5.4 -o one.luac one.lua
rm -f one.*

python3 "$generators/gen_ksf.py" --tree ksf "$scripts" 200 1 > /dev/null
python3 "$generators/gen_lua.py" --tree lua "$scripts" 200 1 > /dev/null
find lua -name '*.lua' | sort > lua.list
write_lua_dumper dump.lua
pair "compile-scripts $scripts x 200 lines" "lua5.4, one" 0.9 - nothing -- \
    "$trovex" -j 1 compile-scripts ksf -- lua5.4 dump.lua lua.list
rm -rf ksf lua lua.list dump.lua

python3 "$generators/gen_tree.py" small "$small_files" $(( small_files * 1024 )) 5 > /dev/null
# The bundle and the tar are there from the warm-up on: every timed run replaces them.
pair "quick-bundle $small_files files" "tar -cf" 1.1 150/file nothing -- \
    "$trovex" -j 1 quick-bundle -r small -D small.bundle -- tar -cf small.tar -C small .

echo "in $target_dir on $(nproc) cores, one job, median of $rounds alternating rounds after a warm-up:"
printf "%-34s %-16s %8s %8s %6s %7s %8s %8s %9s %9s %11s %12s\n" work peer "ms" "peer ms" \
    ratio target "cpu ms" "peer cpu" "KiB" "peer KiB" memory "mem target"
cat table
