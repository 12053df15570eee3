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
[ -x /usr/bin/time ] || { echo "needs GNU time (/usr/bin/time)"; exit 1; }

files=10000
bytes=1073741824
available_mib=$(awk '/MemAvailable/ {print int($2 / 1024)}' /proc/meminfo)
if [ "$available_mib" -lt 4096 ]; then
    echo "only $available_mib MiB of memory available; need 4096 MiB"; exit 1
fi
[ "$(stat -f -c %T "$target_dir")" = tmpfs ] || echo "note: $target_dir is not a tmpfs"

# Lower case throughout: a path spelled otherwise than on disk costs every open a
# component-by-component resolution.
work="$target_dir/trovex-bundle-bench.$$"
mkdir "$work"
trap 'rm -rf "$work"' EXIT
python3 /work/shared/bench/gen_tree.py "$work/tree" "$files" "$bytes" 1 > /dev/null

# Appends "wall-ms cpu-ms peak-KiB" of one run to the file named first.
measure() {
    local log=$1
    shift
    /usr/bin/time -f "%e %U %S %M" -o "$work/one" "$@" > /dev/null
    awk '{printf "%d %d %d\n", $1 * 1000, ($2 + $3) * 1000, $4}' "$work/one" >> "$log"
}
median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
column() { awk -v c="$2" '{print $c}' "$1" | median; }

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
