#!/usr/bin/env bash
# trovex with -j 2 against -j 1 (compile-xml, compile-scripts) and against tar (quick-bundle,
# bundle -L, extract -r; -j 2 unless TROVEX_BENCH_JOBS says otherwise), everything in a tmpfs, in
# one run: each pair alternates for the rounds after a warm-up. Prints one table: the work, the
# medians of wall time, their ratio, the target ratio, and the median peak memory of both.
# Usage: bench/jobs_bench.sh [build-dir] [tmpfs-directory] [rounds] [xml-files] [ksf-files]
#                            [tree-files] [tree-bytes] [small-files] [small-bytes]
# Defaults: build /dev/shm 5 2000 2000 50000 1073741824 300000 307200000. A smoke run:
#   bench/jobs_bench.sh build /dev/shm 1 20 20 500 5000000 1000 1024000
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}
target_dir=${2:-/dev/shm}
rounds=${3:-5}
xml_files=${4:-2000}
ksf_files=${5:-2000}
tree_files=${6:-50000}
tree_bytes=${7:-1073741824}
small_files=${8:-300000}
small_bytes=${9:-307200000}
generators=${TROVEX_BENCH_GENERATORS:-/work/shared/bench}
# The jobs of the runs against tar (TROVEX_BENCH_JOBS=1 for one job).
jobs=${TROVEX_BENCH_JOBS:-2}
trovex="$(pwd)/$build_dir/trovex"
[ -x "$trovex" ] || { echo "build $trovex first (bash scripts/setup)"; exit 1; }
[ -x /usr/bin/time ] || { echo "needs GNU time (/usr/bin/time)"; exit 1; }

source bench/timing.sh
# The tree, its bundle, the tar and an extraction of each at once.
need_memory_mib $(( tree_bytes * 5 / 1048576 + 1024 ))
note_unless_tmpfs "$target_dir"
work=$(mktemp -d "$target_dir/trovex-jobs-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
: > table

# pair WORK TARGET PREPARE -- TROVEX... -- PEER...: runs PREPARE (untimed) before every run, each
# command once as a warm-up, then both alternately for the rounds; appends a row to the table.
pair() {
    local work=$1 target=$2 prepare=$3
    shift 4
    alternate "$rounds" "$prepare" "$@"
    awk -v work="$work" -v target="$target" -v m="$(column mine.runs 1)" \
        -v p="$(column peer.runs 1)" -v mm="$(column mine.runs 3)" -v pm="$(column peer.runs 3)" \
        'BEGIN { printf "%-34s %9d %9d %7.3f %7s %11d %11d\n", work, m, p, m / (p > 0 ? p : 1),
                 "<= " target, mm, pm }' >> table
}

nothing() { :; }

python3 "$generators/gen_xml.py" --tree xml "$xml_files" 104857600 1 > /dev/null
clean_xml() { find xml -type f ! -name '*.xml' -delete; }
pair "compile-xml $xml_files files" 0.6 clean_xml -- \
    "$trovex" -j 2 compile-xml xml -- "$trovex" -j 1 compile-xml xml
rm -rf xml

python3 "$generators/gen_ksf.py" --tree ksf "$ksf_files" 200 1 > /dev/null
clean_ksf() { find ksf -type f ! -name '*.ksf' -delete; }
pair "compile-scripts $ksf_files x 200 lines" 0.6 clean_ksf -- \
    "$trovex" -j 2 compile-scripts ksf -- "$trovex" -j 1 compile-scripts ksf
rm -rf ksf

python3 "$generators/gen_tree.py" tree "$tree_files" "$tree_bytes" 1 > /dev/null
write_level_log tree level.log
# The bundle is there from the warm-up on: every timed run replaces it.
pair "quick-bundle $tree_files files" 0.7 nothing -- \
    "$trovex" -j "$jobs" quick-bundle -r tree -D out.bundle -- tar -cf out.tar -C tree .
pair "bundle -L, a third logged" 0.75 nothing -- \
    "$trovex" -j "$jobs" bundle -L -r tree -D logged.bundle level.log -- tar -cf out.tar -C tree .
fresh_targets() { rm -rf x t; mkdir x t; }
pair "extract -r $tree_files files" 0.7 fresh_targets -- \
    "$trovex" -j "$jobs" extract -r out.bundle '\' x -- tar -xf out.tar -C t
rm -rf tree x t out.bundle out.bundle.log logged.bundle logged.bundle.log out.tar

python3 "$generators/gen_tree.py" small "$small_files" "$small_bytes" 5 > /dev/null
pair "quick-bundle $small_files small files" 0.8 nothing -- \
    "$trovex" -j "$jobs" quick-bundle -r small -D small.bundle -- tar -cf small.tar -C small .

echo "in $target_dir on $(nproc) cores, -j $jobs against tar, wall time median of $rounds alternating rounds after a warm-up:"
printf "%-34s %9s %9s %7s %7s %11s %11s\n" work "trovex ms" "peer ms" ratio target \
    "trovex KiB" "peer KiB"
cat table
