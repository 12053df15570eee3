#!/usr/bin/env bash
# The bundle commands on a generated 50000-file, 1 GiB tree against `tar -cf` of the same tree,
# interleaved in one run after a warm-up, everything in a tmpfs: quick-bundle (walk and pack every
# file), and bundle -L from a load log naming a third of the files in a shuffled order (entries
# pass, the logged files, then a second walk packing the rest). Prints the medians of wall and CPU
# time, the ratios to tar, and the peak memory of each.
# Usage: bench/bundle_bench.sh [build-dir] [tmpfs-directory] [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}
target_dir=${2:-/dev/shm}
rounds=${3:-5}
trovex="$(pwd)/$build_dir/trovex"
[ -x "$trovex" ] || { echo "build $trovex first (bash scripts/setup)"; exit 1; }

files=50000
bytes=1073741824
source bench/timing.sh
start_tree_bench "$target_dir" "$files" "$bytes"
write_level_log "$work/tree" "$work/level.log"

quick=("$trovex" quick-bundle -r "$work/tree" -D "$work/out.bundle")
logged=("$trovex" bundle -L -r "$work/tree" -D "$work/out.bundle" "$work/level.log")
archive=(tar -cf "$work/out.tar" -C "$work/tree" .)
clean() { rm -f "$work/out.bundle" "$work/out.bundle.log" "$work/out.tar"; }

# Warm-up: the tree in the page cache, each program once.
"${quick[@]}" > /dev/null; "${logged[@]}" > /dev/null; "${archive[@]}"; clean
: > "$work/quick.runs"; : > "$work/logged.runs"; : > "$work/tar.runs"
for _ in $(seq "$rounds"); do
    measure "$work/quick.runs" "${quick[@]}"; clean
    measure "$work/logged.runs" "${logged[@]}"; clean
    measure "$work/tar.runs" "${archive[@]}"; clean
done

echo "$files files, $bytes bytes, in $target_dir, median of $rounds rounds:"
row() {
    awk -v name="$1" -v w="$(column "$2" 1)" -v c="$(column "$2" 2)" -v m="$(column "$2" 3)" \
        -v tw="$(column "$work/tar.runs" 1)" -v tc="$(column "$work/tar.runs" 2)" 'BEGIN {
        printf "  %-22s %8d %8d %10d   %.3f x tar (wall), %.3f x tar (cpu)\n", name, w, c, m, w / tw, c / tc
    }'
}
echo "                          wall ms   cpu ms  peak KiB"
row "tar -cf" "$work/tar.runs"
row "trovex quick-bundle" "$work/quick.runs"
row "trovex bundle -L" "$work/logged.runs"
