#!/bin/sh
# The system calls of one VX_ListJ2534Devices call without registrations:
# with no ~/.passthru folder and with an empty one (bench/discovery_once.cpp).
# Usage: bench/discovery_strace.sh [build-dir]   (default build/bench-rel)
set -eu
build=${1:-build/bench-rel}
home=$(mktemp -d /tmp/vxdiag-discovery.XXXXXX)
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/empty/.passthru" "$home/none"
for case in none empty; do
    echo "== HOME without registrations: $case"
    HOME="$home/$case" strace -o "$home/$case.trace" "$build/bench/vxcore_discovery_once"
    # Only the calls between the two getpid markers.
    awk '/^getpid/ { marks++; next } marks == 1' "$home/$case.trace" | sed "s|$home/$case|\$HOME|"
done
