# Shared by the timing scripts of bench/: sourced, not run.

# EPOCHREALTIME and awk then agree on the decimal point.
export LC_ALL=C

# Ends the script unless the machine has that many MiB of memory available.
need_memory_mib() {
    local available_mib
    available_mib=$(awk '/MemAvailable/ {print int($2 / 1024)}' /proc/meminfo)
    if [ "$available_mib" -lt "$1" ]; then
        echo "only $available_mib MiB of memory available; need $1 MiB"; exit 1
    fi
}

note_unless_tmpfs() {
    [ "$(stat -f -c %T "$1")" = tmpfs ] || echo "note: $1 is not a tmpfs"
}

# measure RUNS COMMAND...: runs the command (output discarded) under GNU time and appends
# "wall-ms cpu-ms peak-KiB" to the file RUNS. The wall time comes from the clock around it: GNU
# time counts in hundredths, a tenth of a run of 100 ms.
measure() {
    local runs=$1 one start end
    shift
    one=$(mktemp)
    start=$EPOCHREALTIME
    /usr/bin/time -f "%U %S %M" -o "$one" "$@" > /dev/null
    end=$EPOCHREALTIME
    awk -v wall="$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%d", (b - a) * 1000 }')" \
        '{printf "%d %d %d\n", wall, ($1 + $2) * 1000, $3}' "$one" >> "$runs"
    rm -f "$one"
}

median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

# column RUNS N: the median of the Nth figure of a measure file.
column() { awk -v c="$2" '{print $c}' "$1" | median; }

# start_tree_bench TARGET-DIR FILES BYTES: checks the machine, makes the work directory $work in
# TARGET-DIR (removed when the script exits) and generates the tree $work/tree in it. Its paths
# are lower case: one spelled otherwise than on disk costs every open a resolution ignoring case.
start_tree_bench() {
    [ -x /usr/bin/time ] || { echo "needs GNU time (/usr/bin/time)"; exit 1; }
    need_memory_mib 4096
    note_unless_tmpfs "$1"
    work="$1/trovex-bundle-bench.$$"
    mkdir "$work"
    trap 'rm -rf "$work"' EXIT
    python3 /work/shared/bench/gen_tree.py "$work/tree" "$2" "$3" 1 > /dev/null
}

# write_level_log TREE OUT: the load log of an imagined level, a third of the files of TREE
# shuffled with a fixed seed, in recorded form with CR LF.
write_level_log() {
    python3 - "$1" > "$2" <<'PYTHON'
import os, random, sys
root = sys.argv[1]
paths = sorted(os.path.relpath(os.path.join(d, f), root).replace("/", "\\")
               for d, _, names in os.walk(root) for f in names)
random.Random(7).shuffle(paths)
for path in paths[: len(paths) // 3]:
    sys.stdout.buffer.write(('   <open path="%s" flags="r" />\r\n' % path).encode())
PYTHON
}

# alternate ROUNDS PREPARE MINE... -- PEER...: runs PREPARE (untimed) before every run, each command
# once as a warm-up, then both alternately for the rounds, measured into mine.runs and peer.runs.
alternate() {
    local rounds=$1 prepare=$2
    shift 2
    local mine=() peer=()
    while [ "$1" != -- ]; do mine+=("$1"); shift; done
    shift
    peer=("$@")
    : > mine.runs; : > peer.runs
    $prepare; "${mine[@]}" > /dev/null; $prepare; "${peer[@]}" > /dev/null
    for _ in $(seq "$rounds"); do
        $prepare; measure mine.runs "${mine[@]}"
        $prepare; measure peer.runs "${peer[@]}"
    done
}

# write_lua_dumper FILE: a Lua program that does luac's work for every file its argument lists
# (load, dump, write beside the source), for timing a tree in one process: luac 5.4.4 crashes
# when it combines more than a few dozen files into one chunk.
write_lua_dumper() {
    cat > "$1" <<'LUA'
for path in io.lines(arg[1]) do
  local out = assert(io.open(path .. "c", "wb"))
  out:write(string.dump(assert(loadfile(path))))
  out:close()
end
LUA
}
