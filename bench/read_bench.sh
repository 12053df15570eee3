#!/usr/bin/env bash
# Sequential read of a 1 GiB file through the archive layer ("r" and "rc") against
# `cat FILE > /dev/null`, interleaved in one run with the file warm in the page cache.
# Prints the median of each and the ratios to cat.
# Usage: bench/read_bench.sh [build-dir] [directory-for-the-file] [rounds] [chunk-bytes]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}
target_dir=${2:-/dev/shm}
rounds=${3:-11}
chunk=${4:-65536}
reader="$build_dir/read_through_archive"
[ -x "$reader" ] || { echo "build $reader first (bash scripts/setup)"; exit 1; }

size_mib=1024
available_mib=$(awk '/MemAvailable/ {print int($2 / 1024)}' /proc/meminfo)
if [ "$available_mib" -lt $((size_mib * 3)) ]; then
    echo "only $available_mib MiB of memory available; need $((size_mib * 3)) MiB"; exit 1
fi
[ "$(stat -f -c %T "$target_dir")" = tmpfs ] || echo "note: $target_dir is not a tmpfs"

file=$(mktemp "$target_dir/trovex-read-bench.XXXXXX")
trap 'rm -f "$file"' EXIT
head -c $((size_mib * 1024 * 1024)) /dev/urandom > "$file"

time_ms() {
    local start end
    start=$(date +%s%N)
    "$@" > /dev/null
    end=$(date +%s%N)
    echo $(((end - start) / 1000))
}
median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

cat "$file" > /dev/null; "$reader" r "$file" "$chunk"; "$reader" rc "$file" "$chunk"  # warm up
: > /tmp/trovex-read-bench.cat; : > /tmp/trovex-read-bench.r; : > /tmp/trovex-read-bench.rc
for _ in $(seq "$rounds"); do
    time_ms cat "$file" >> /tmp/trovex-read-bench.cat
    time_ms "$reader" r "$file" "$chunk" >> /tmp/trovex-read-bench.r
    time_ms "$reader" rc "$file" "$chunk" >> /tmp/trovex-read-bench.rc
done
cat_us=$(median < /tmp/trovex-read-bench.cat)
r_us=$(median < /tmp/trovex-read-bench.r)
rc_us=$(median < /tmp/trovex-read-bench.rc)
rm -f /tmp/trovex-read-bench.cat /tmp/trovex-read-bench.r /tmp/trovex-read-bench.rc

echo "1 GiB sequential read in $target_dir, $chunk-byte reads, median of $rounds rounds:"
awk -v c="$cat_us" -v r="$r_us" -v rc="$rc_us" 'BEGIN {
    printf "  cat FILE > /dev/null  %8.1f ms\n", c / 1000
    printf "  archive, mode r       %8.1f ms   %.3f x cat\n", r / 1000, r / c
    printf "  archive, mode rc      %8.1f ms   %.3f x cat\n", rc / 1000, rc / c
}'
