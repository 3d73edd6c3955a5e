#!/bin/sh
# Instruction counts of the core for the fixed session (bench/fixed_session.cpp):
# the total and one line per export call, the device's own instructions left
# out. Usage: bench/callgrind_session.sh [build-dir]   (default build/bench-rel)
set -eu
build=${1:-build/bench-rel}
out=$(mktemp /tmp/vxdiag-callgrind.XXXXXX)
trap 'rm -f "$out"' EXIT
valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file="$out" \
    "$build/bench/vxcore_session" 2>&1 | grep -E 'refs|session result'
callgrind_annotate --inclusive=yes --threshold=100 "$out" 2>/dev/null |
    sed -n 's/^ *\([0-9,]*\) ([ 0-9.]*%)  ???:(anonymous namespace)::step_\([A-Za-z0-9_]*\)().*/\2 \1/p' |
    awk '{ printf "%-34s %12s\n", $1, $2 }'
