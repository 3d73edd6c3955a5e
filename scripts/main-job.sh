#!/usr/bin/env bash
# The main job on a Debian 12 machine, as root, from a fresh clone: installs
# the few packages the build needs, builds the core, the simulated VCI and
# the vxdiag host in Release mode, and has the host run a whole diagnostic
# session (vxdiag demo) against the simulated vehicle, in real time.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dir="$root/build/main"
jobs="${VXDIAG_JOBS:-2}"

bash "$root/scripts/install-deps.sh" main

mkdir -p "$dir"
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >"$dir/configure.log" 2>&1 ||
  { cat "$dir/configure.log"; exit 1; }
cmake --build "$dir" -j "$jobs" --target VXArvessaDiagCore passthru_sim vxdiag

core="$dir/src/libVXArvessaDiagCore.so"
"$dir/tools/vxdiag" --core "$core" --dll "$dir/sim/libpassthru_sim.so" demo
