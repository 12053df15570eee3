#!/usr/bin/env bash
# Writing a bundle of a 10000-file, 1 GiB tree (build/bundle_write: walk, add every file, write
# the bundle and its listing) against `tar -cf` of the same tree, interleaved in one run with the
# tree warm in the page cache of a tmpfs. Prints the median of each and the ratio to tar.
# Usage: bench/bundle_write.sh [build-dir] [tmpfs-directory] [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}
target_dir=${2:-/dev/shm}
rounds=${3:-7}
writer="$build_dir/bundle_write"
[ -x "$writer" ] || { echo "build $writer first (bash scripts/setup)"; exit 1; }

files=10000
bytes=1073741824
available_mib=$(awk '/MemAvailable/ {print int($2 / 1024)}' /proc/meminfo)
if [ "$available_mib" -lt 4096 ]; then
    echo "only $available_mib MiB of memory available; need 4096 MiB"; exit 1
fi
[ "$(stat -f -c %T "$target_dir")" = tmpfs ] || echo "note: $target_dir is not a tmpfs"

# Lower case throughout: a path spelled otherwise than on disk costs every open a
# component-by-component resolution (see "mixed" below).
work="$target_dir/trovex-bundle-bench.$$"
mkdir "$work"
trap 'rm -rf "$work"' EXIT
python3 /work/shared/bench/gen_tree.py "$work/tree" "$files" "$bytes" 1 > /dev/null

time_us() {
    local start end
    start=$(date +%s%N)
    "$@" > /dev/null
    end=$(date +%s%N)
    echo $(((end - start) / 1000))
}
median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

tar -cf - -C "$work/tree" . | cat > /dev/null  # warm up
: > "$work/bundle.times"; : > "$work/tar.times"
for _ in $(seq "$rounds"); do
    time_us "$writer" "$work/tree" "$work/out.bundle" >> "$work/bundle.times"
    rm -f "$work/out.bundle" "$work/out.bundle.log"
    time_us tar -cf "$work/out.tar" -C "$work/tree" . >> "$work/tar.times"
    rm -f "$work/out.tar"
done
bundle_us=$(median < "$work/bundle.times")
tar_us=$(median < "$work/tar.times")

echo "bundle of $files files, $bytes bytes, in $target_dir, median of $rounds rounds:"
awk -v b="$bundle_us" -v t="$tar_us" 'BEGIN {
    printf "  tar -cf            %8.1f ms\n", t / 1000
    printf "  bundle_write       %8.1f ms   %.3f x tar\n", b / 1000, b / t
}'
