#!/usr/bin/env bash
# Writing a bundle of a 10000-file, 1 GiB tree (build/bundle_write: walk, add every file, write
# the bundle and its listing) against `tar -cf` of the same tree, interleaved in one run with the
# tree warm in the page cache of a tmpfs. Prints the medians of wall and CPU time, the ratios to
# tar, and the writer's peak memory. CPU time is the steadier figure on a shared machine.
# Usage: bench/bundle_write.sh [build-dir] [tmpfs-directory] [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}
target_dir=${2:-/dev/shm}
rounds=${3:-11}
writer="$build_dir/bundle_write"
[ -x "$writer" ] || { echo "build $writer first (bash scripts/setup)"; exit 1; }

files=10000
bytes=1073741824
source bench/timing.sh
start_tree_bench "$target_dir" "$files" "$bytes"

tar -cf - -C "$work/tree" . | cat > /dev/null  # warm up
: > "$work/bundle.runs"; : > "$work/tar.runs"
for _ in $(seq "$rounds"); do
    measure "$work/bundle.runs" "$writer" "$work/tree" "$work/out.bundle"
    rm -f "$work/out.bundle" "$work/out.bundle.log"
    measure "$work/tar.runs" tar -cf "$work/out.tar" -C "$work/tree" .
    rm -f "$work/out.tar"
done

echo "bundle of $files files, $bytes bytes, in $target_dir, median of $rounds rounds:"
awk -v bw="$(column "$work/bundle.runs" 1)" -v bc="$(column "$work/bundle.runs" 2)" \
    -v tw="$(column "$work/tar.runs" 1)" -v tc="$(column "$work/tar.runs" 2)" \
    -v peak="$(column "$work/bundle.runs" 3)" 'BEGIN {
    printf "                 wall ms   cpu ms\n"
    printf "  tar -cf       %8d %8d\n", tw, tc
    printf "  bundle_write  %8d %8d   %.3f x tar (wall), %.3f x tar (cpu)\n", bw, bc, bw / tw, bc / tc
    printf "  peak memory of bundle_write: %d KiB\n", peak
}'
