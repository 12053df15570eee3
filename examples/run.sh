#!/usr/bin/env bash
# Runs trovex on the sample content as a content build would: compiles the XML into binary XML and
# the scripts into compiled scripts, builds the bundle of the forest level's load log with every
# other file packed after the logged ones, and lists what the bundle holds. Works on a copy in the
# build directory, so the checkout stays as it is.
# Usage: examples/run.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}
trovex="$build_dir/trovex"
sample="$build_dir/sample"
[ -x "$trovex" ] || { echo "build $trovex first (bash scripts/setup)"; exit 1; }

rm -rf "$sample"
cp -r examples/content "$sample"
run() {
    echo "\$ $*"
    "$@"
}
run "$trovex" -v compile-xml -r "$sample" "$sample/data" "$sample/local"
run "$trovex" -v compile-scripts "$sample/scripts"
run "$trovex" -vv bundle -L -r "$sample" examples/logs/forest.log
run "$trovex" list -r "$sample/bundles/forest.bundle"
