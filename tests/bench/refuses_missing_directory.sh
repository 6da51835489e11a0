#!/bin/sh
# Runs a benchmark, given with its arguments, from a scratch directory that holds one file; the
# arguments name the output directory "missing", which does not exist there. The benchmark must
# refuse with a non-zero status and leave the scratch directory exactly as it was.
scratch=$(mktemp -d) || exit 1
[ -d "$scratch" ] || exit 1
trap 'rm -rf -- "$scratch"' EXIT
echo "keep me" >"$scratch/keep"
cd "$scratch" || exit 1
"$@"
status=$?
if [ "$status" -eq 0 ]; then
    echo "FAIL: the benchmark exited 0 with a missing directory" >&2
    exit 1
fi
if [ "$(ls -A "$scratch")" != "keep" ] || [ "$(cat "$scratch/keep")" != "keep me" ]; then
    echo "FAIL: the scratch directory changed:" >&2
    ls -lA "$scratch" >&2
    exit 1
fi
echo "PASS: refused with status $status, nothing touched"
