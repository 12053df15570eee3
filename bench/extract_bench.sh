#!/usr/bin/env bash
# Extracting and listing a bundle of a 50000-file, 1 GiB tree against tar doing the same with a
# tar of the same tree: `trovex extract -r` into an empty directory against `tar -xf`, and
# `trovex list -r -f` against `tar -tf`, interleaved in one run with everything in a tmpfs.
# The bundle comes from `trovex quick-bundle` when that command is built, else from
# build/bundle_write (the same walk through the builder). Prints the medians of wall and CPU
# time, the ratios to tar and the peak memory of the trovex runs; checks the extracted tree once
# with diff -r.
# Usage: bench/extract_bench.sh [build-dir] [tmpfs-directory] [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}
target_dir=${2:-/dev/shm}
rounds=${3:-7}
trovex="$PWD/$build_dir/trovex"
writer="$PWD/$build_dir/bundle_write"
[ -x "$trovex" ] || { echo "build $trovex first (bash scripts/setup)"; exit 1; }
[ -x /usr/bin/time ] || { echo "needs GNU time (/usr/bin/time)"; exit 1; }

files=50000
bytes=1073741824
available_mib=$(awk '/MemAvailable/ {print int($2 / 1024)}' /proc/meminfo)
if [ "$available_mib" -lt 6144 ]; then
    echo "only $available_mib MiB of memory available; need 6144 MiB"; exit 1
fi
[ "$(stat -f -c %T "$target_dir")" = tmpfs ] || echo "note: $target_dir is not a tmpfs"

work="$target_dir/trovex-extract-bench.$$"
mkdir "$work"
trap 'rm -rf "$work"' EXIT
python3 /work/shared/bench/gen_tree.py "$work/tree" "$files" "$bytes" 1 > /dev/null
cd "$work"
usage=$("$trovex" quick-bundle -h 2>&1 || true)
if [[ $usage == *"trovex quick-bundle"* ]]; then
    made_by="trovex quick-bundle"
    "$trovex" quick-bundle -r tree -D t.bundle > /dev/null
else
    made_by="$build_dir/bundle_write"
    "$writer" tree t.bundle > /dev/null
fi
tar -cf t.tar -C tree .

# Appends "wall-ms cpu-ms peak-KiB" of one run to the file named first.
measure() {
    local log=$1
    shift
    /usr/bin/time -f "%e %U %S %M" -o one "$@" > /dev/null
    awk '{printf "%d %d %d\n", $1 * 1000, ($2 + $3) * 1000, $4}' one >> "$log"
}
median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
column() { awk -v c="$2" '{print $c}' "$1" | median; }
fresh() { rm -rf out && mkdir out; }

fresh && "$trovex" extract -r t.bundle "" out > /dev/null  # warm up, and check the result once
diff -r tree out > /dev/null || { echo "the extracted tree differs from the original"; exit 1; }
: > extract.runs; : > untar.runs; : > list.runs; : > tarlist.runs
for _ in $(seq "$rounds"); do
    fresh && measure extract.runs "$trovex" extract -r t.bundle "" out
    fresh && measure untar.runs tar -xf t.tar -C out
    measure list.runs "$trovex" list -r -f t.bundle
    measure tarlist.runs tar -tf t.tar
done
rm -rf out

report() {
    awk -v name="$1" -v peer="$2" -v w="$(column "$3" 1)" -v c="$(column "$3" 2)" \
        -v pw="$(column "$4" 1)" -v pc="$(column "$4" 2)" -v peak="$(column "$3" 3)" 'BEGIN {
        printf "  %-22s %8d %8d\n", peer, pw, pc
        printf "  %-22s %8d %8d   %.3f x tar (wall), %.3f x tar (cpu), peak %d KiB\n",
            name, w, c, w / (pw ? pw : 1), c / (pc ? pc : 1), peak
    }'
}
echo "$files files, $bytes bytes, bundle by $made_by, in $target_dir, median of $rounds rounds:"
echo "                          wall ms   cpu ms"
report "trovex extract -r" "tar -xf" extract.runs untar.runs
report "trovex list -r -f" "tar -tf" list.runs tarlist.runs
