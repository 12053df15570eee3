#!/usr/bin/env bash
# Times compile-scripts over a generated tree of scripts, from scratch and again with -m, against
# luac5.4 compiling Lua files of the same shape and count, in one run; prints medians and ratios.
# Usage: bench/compile_scripts_vs_luac.sh [build-dir] [files] [lines]
# The trees are generated into a tmpfs (/dev/shm) and removed afterwards. The generators come from
# the shared bench folder beside the checkout (TROVEX_BENCH_GENERATORS).
#
# Peers: luac5.4 once per file, as a build drives it; and, because luac 5.4.4 crashes when it
# combines more than a few dozen files into one chunk, lua5.4 doing luac's work (load, dump, write
# beside the source) for the whole tree in one process, which leaves out the process starts.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/timing.sh"
build=$(cd "${1:-$root/build}" && pwd)
files=${2:-2000}
lines=${3:-200}
generators=${TROVEX_BENCH_GENERATORS:-$root/../shared/bench}
rounds=${TROVEX_BENCH_ROUNDS:-5}

if ! command -v luac5.4 >/dev/null || ! command -v lua5.4 >/dev/null; then
    echo "luac5.4 is missing: lua5.4 is installed by hand on the benchmark machine (apt-get install lua5.4)"
    exit 1
fi
[ -d /dev/shm ] && [ -w /dev/shm ] || { echo "needs a writable tmpfs at /dev/shm"; exit 1; }
work=$(mktemp -d /dev/shm/trovex-compile-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
python3 "$generators/gen_ksf.py" --tree ksf "$files" "$lines" 1
python3 "$generators/gen_lua.py" --tree lua "$files" "$lines" 1
find lua -name '*.lua' | sort >lua.list
write_lua_dumper dump.lua

# Appends "name wall cpu" in milliseconds (cpu: user + sys); a failing command ends the run.
timed() {
    local name=$1
    shift
    if ! { TIMEFORMAT='%R %U %S'; time "$@" >/dev/null 2>errors; } 2>time.out; then
        echo "$name failed: $*"
        cat errors
        exit 1
    fi
    awk -v n="$name" '{ printf "%s %d %d\n", n, $1 * 1000, ($2 + $3) * 1000 }' time.out >>times
}

trovex=$build/trovex
for _ in $(seq "$rounds"); do
    find ksf -name '*.kxe' -delete
    timed full "$trovex" compile-scripts ksf
    timed only-if-modified "$trovex" compile-scripts -m ksf
    find lua -name '*.luac' -delete
    timed luac-per-file xargs -a lua.list -d '\n' -I{} luac5.4 -o {}c {}
    find lua -name '*.luac' -delete
    timed lua-one-process lua5.4 dump.lua lua.list
done
[ "$(find ksf -name '*.kxe' | wc -l)" -eq "$files" ] || { echo "not every script was compiled"; exit 1; }

python3 - times "$files" "$lines" <<'PY'
import statistics, sys
rows = [line.split() for line in open(sys.argv[1])]
files, lines = int(sys.argv[2]), int(sys.argv[3])
wall = {n: statistics.median(int(w) for m, w, _ in rows if m == n) for n, _, _ in rows}
cpu = {n: statistics.median(int(c) for m, _, c in rows if m == n) for n, _, _ in rows}
print(f"{files} files of {lines} lines, medians of {len(rows) // len(wall)} rounds (wall / cpu)")
labels = {"full": "trovex compile-scripts", "only-if-modified": "trovex compile-scripts -m",
          "luac-per-file": "luac5.4 -o, one process per file", "lua-one-process": "lua5.4 load+dump, one process"}
for name, label in labels.items():
    print(f"{label:34s} {wall[name]:7.0f} ms {cpu[name]:7.0f} ms  {files * lines / max(wall[name], 1) * 1000:10.0f} lines/s")
print(f"luac5.4 per file / trovex:        {wall['luac-per-file'] / wall['full']:.2f}")
print(f"lua5.4 one process / trovex:      {wall['lua-one-process'] / wall['full']:.2f} (cpu {cpu['lua-one-process'] / cpu['full']:.2f})")
print(f"trovex full / -m:                 {wall['full'] / max(wall['only-if-modified'], 1):.1f} (cpu {cpu['full'] / max(cpu['only-if-modified'], 1):.1f})")
PY
