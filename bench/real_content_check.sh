#!/usr/bin/env bash
# Two checks on real content that the tests do not run (the second needs strace):
# 1. quick-bundle of a copy of a real tree: every file is in the bundle, byte for byte.
# 2. A real load log: grep -r reads the copy under strace, its opens become a load log
#    (load_log_from_strace.py), the copy is bundled from that log, and the packed order must be
#    the order in which grep opened the files.
# Usage: bench/real_content_check.sh [build-dir] [work-directory] [tree]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}
base=${2:-/tmp}
source_tree=${3:-/usr/share/doc}
trovex="$(pwd)/$build_dir/trovex"
[ -x "$trovex" ] || { echo "build $trovex first (bash scripts/setup)"; exit 1; }
command -v strace > /dev/null || { echo "needs strace (apt-get install strace)"; exit 1; }

work=$(mktemp -d "$base/trovex-real.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp -a "$source_tree" "$work/tree"
echo "$source_tree: $(find "$work/tree" -type f | wc -l) files, $(find "$work/tree" -type l | wc -l) links, $(du -sh "$work/tree" | cut -f1)"

echo "== quick-bundle of the copy"
"$trovex" quick-bundle -r "$work/tree" -D "$work/quick.bundle" | tail -n +3
python3 bench/bundle_contents.py "$work/quick.bundle" --verify "$work/tree"

echo "== bundle of the copy from the opens of grep -r"
(cd "$work/tree" && strace -f -y -e trace=openat -o "$work/trace" grep -r -l -i license . > /dev/null)
python3 bench/load_log_from_strace.py "$work/tree" "$work/tree" "$work/trace" > "$work/grep.log"
"$trovex" bundle -r "$work/tree" -D "$work/grep.bundle" "$work/grep.log" | tail -n +3
python3 - "$work" <<'PYTHON'
import os, re, sys
sys.path.insert(0, "bench")
from bundle_contents import files_under, packed_files

work = sys.argv[1]
on_disk = files_under(os.path.join(work, "tree"))
opened, seen = [], set()
with open(os.path.join(work, "grep.log"), encoding="utf-8", errors="surrogateescape") as log:
    for line in log:
        path = re.search(r'path="([^"]*)"', line).group(1)
        path = path.replace("&quot;", '"').replace("&lt;", "<").replace("&gt;", ">").replace("&amp;", "&")
        if path in seen:
            continue
        seen.add(path)
        if path in on_disk and os.path.getsize(on_disk[path]) > 0:
            opened.append(path)
with open(os.path.join(work, "grep.bundle"), "rb") as bundle:
    packed = [path for _, _, path in packed_files(bundle.read())[0]]
lines = sum(1 for _ in open(os.path.join(work, "grep.log"), "rb"))
print("%d opens logged, %d distinct non-empty files opened, %d packed" % (lines, len(opened), len(packed)))
if packed != opened:
    first = next(i for i, (a, b) in enumerate(zip(packed + [None], opened + [None])) if a != b)
    sys.exit("packed order differs from the opened order at %d: %s, %s" % (
        first, packed[first:first + 1], opened[first:first + 1]))
print("packed order is the opened order")
PYTHON
