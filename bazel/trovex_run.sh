#!/usr/bin/env bash
# Runs trovex for a Bazel action. trovex writes its outputs beside its inputs, so the declared
# inputs are copied into a work folder first, every file there gets one fixed time (bundles would
# otherwise depend on when the checkout was made), and the results are moved to the declared outputs.
# Usage: trovex_run.sh TROVEX WORK [in FILE PATH]... [out PATH FILE]... -- ARGS...   (or @PARAMS)
# PATH is relative to WORK/root, where trovex runs; bundles go to ../out, beside the tree.
set -euo pipefail
if [ $# -eq 1 ] && [ "${1:0:1}" = @ ]; then
    mapfile -t params <"${1:1}"
    set -- "${params[@]}"
fi
trovex=$(readlink -f "$1")
work=$2
shift 2
rm -rf "$work"
mkdir -p "$work/root" "$work/out"
outs=()
while [ "$1" != -- ]; do
    case $1 in
        in)
            mkdir -p "$(dirname "$work/root/$3")"
            cp -L "$2" "$work/root/$3"
            ;;
        out) outs+=("$2" "$3") ;;
        *) echo "trovex_run.sh: unknown word $1" >&2; exit 2 ;;
    esac
    shift 3
done
shift
find "$work" -exec touch -h -d @0 {} +
if ! (cd "$work/root" && "$trovex" -j 1 "$@") >"$work/output" 2>&1; then
    cat "$work/output" >&2
    exit 1
fi
for ((i = 0; i < ${#outs[@]}; i += 2)); do
    mv "$work/root/${outs[i]}" "${outs[i + 1]}"
done
rm -rf "$work"
