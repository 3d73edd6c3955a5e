#!/usr/bin/env bash
# Runs every test of the project on a Debian 12 machine, as root, from a fresh
# clone: installs missing packages, then
#   1. linux  gcc build with AddressSanitizer + UndefinedBehaviorSanitizer, ctest
#   1b. tsan  gcc build with ThreadSanitizer of the concurrency tests, ctest
#   2. fuzz   clang build of the libFuzzer targets, each run for a bounded time
#   3. win64  mingw-w64 x86_64 cross build, its tests under wine64
#   4. win32  mingw-w64 i686 cross build (the production DLL), static checks
# and ends with a summary. Exits non-zero when any step fails.
#
# Environment: VXDIAG_FUZZ_SECONDS (default 30) bounds each fuzz run;
# VXDIAG_JOBS (default 2) is the build parallelism.
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
build_root="$root/build"
jobs="${VXDIAG_JOBS:-2}"
fuzz_seconds="${VXDIAG_FUZZ_SECONDS:-30}"
wine64=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
export CTEST_OUTPUT_ON_FAILURE=1

script_start=$SECONDS
declare -a step_names=() step_results=() step_details=() step_seconds=()
total_passed=0
total_failed=0

log() { printf '\n==== %s\n' "$*"; }

# record <step> <PASS|FAIL> <detail> <start seconds>
record() {
  step_names+=("$1")
  step_results+=("$2")
  step_details+=("$3")
  step_seconds+=("$((SECONDS - $4))")
  if [[ "$2" != PASS ]]; then
    echo "!!!! step $1 FAILED: $3"
  fi
}

# Reads the ctest closing line "N% tests passed, F tests failed out of T" of a
# log into ctest_total and ctest_failed; -1 when there is none.
read_ctest_counts() {
  local line
  line="$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -1)"
  if [[ -z "$line" ]]; then
    ctest_total=-1 ctest_failed=-1
    return
  fi
  ctest_failed="$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")"
  ctest_total="$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")"
  total_passed=$((total_passed + ctest_total - ctest_failed))
  total_failed=$((total_failed + ctest_failed))
}

# configure_and_build <dir> <log> <cmake args...> [-- <build targets...>]
configure_and_build() {
  local dir="$1" logfile="$2"
  shift 2
  local -a configure_args=() targets=()
  while [[ $# -gt 0 && "$1" != -- ]]; do configure_args+=("$1"); shift; done
  if [[ $# -gt 0 ]]; then shift; targets=("$@"); fi
  local -a target_args=()
  for t in "${targets[@]}"; do target_args+=(--target "$t"); done
  if ! cmake -S "$root" -B "$dir" -G Ninja "${configure_args[@]}" >"$logfile" 2>&1; then
    tail -40 "$logfile"
    return 1
  fi
  if ! cmake --build "$dir" -j "$jobs" "${target_args[@]}" >>"$logfile" 2>&1; then
    grep -E -A12 '^FAILED:|error:' "$logfile" | head -120
    return 1
  fi
}

# ---------------------------------------------------------------------------
log "dependencies"
step_start=$SECONDS
if bash "$root/scripts/install-deps.sh" all; then
  record deps PASS "Debian packages present" $step_start
else
  record deps FAIL "package installation failed" $step_start
  total_failed=$((total_failed + 1))
fi

# ---------------------------------------------------------------------------
log "linux: gcc, AddressSanitizer + UndefinedBehaviorSanitizer"
step_start=$SECONDS
dir="$build_root/test-linux"
mkdir -p "$dir"
if configure_and_build "$dir" "$dir/build.log" -DCMAKE_BUILD_TYPE=Debug \
     -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DVXDIAG_SANITIZE=address,undefined; then
  (cd "$dir" && ctest -j "$jobs" --timeout 600 </dev/null) 2>&1 | tee "$dir/ctest.log"
  read_ctest_counts "$dir/ctest.log"
  if [[ $ctest_total -gt 0 && $ctest_failed -eq 0 ]]; then
    record linux PASS "$ctest_total ctest tests passed" $step_start
  else
    record linux FAIL "ctest: $ctest_failed of $ctest_total failed" $step_start
    [[ $ctest_total -lt 0 ]] && total_failed=$((total_failed + 1))
  fi
else
  record linux FAIL "build failed (see $dir/build.log)" $step_start
  total_failed=$((total_failed + 1))
fi

# ---------------------------------------------------------------------------
log "tsan: gcc, ThreadSanitizer, the concurrency tests"
step_start=$SECONDS
dir="$build_root/test-tsan"
mkdir -p "$dir"
# Only the threaded test program is built here (tests/reliability); the rest
# of the tree is single-threaded per call and covered by the linux step.
if configure_and_build "$dir" "$dir/build.log" -DCMAKE_BUILD_TYPE=Debug \
     -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DVXDIAG_SANITIZE=thread -- vxcore_concurrency_tests; then
  (cd "$dir" && TSAN_OPTIONS="halt_on_error=1 ${TSAN_OPTIONS:-}" ctest -L reliability -j "$jobs" --timeout 600 </dev/null) 2>&1 | tee "$dir/ctest.log"
  read_ctest_counts "$dir/ctest.log"
  if [[ $ctest_total -gt 0 && $ctest_failed -eq 0 ]]; then
    record tsan PASS "$ctest_total ctest tests passed, no ThreadSanitizer report" $step_start
  else
    record tsan FAIL "ctest: $ctest_failed of $ctest_total failed" $step_start
    [[ $ctest_total -lt 0 ]] && total_failed=$((total_failed + 1))
  fi
else
  record tsan FAIL "build failed (see $dir/build.log)" $step_start
  total_failed=$((total_failed + 1))
fi

# ---------------------------------------------------------------------------
log "fuzz: clang libFuzzer targets, ${fuzz_seconds} s each"
step_start=$SECONDS
dir="$build_root/test-fuzz"
mkdir -p "$dir"
if configure_and_build "$dir" "$dir/build.log" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
     -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DBUILD_TESTING=OFF \
     -DVXDIAG_FUZZ=ON -DVXDIAG_FUZZ_SECONDS="$fuzz_seconds" -- vxdiag_fuzzers; then
  (cd "$dir" && ctest -L fuzz -j "$jobs" -V </dev/null) >"$dir/ctest.log" 2>&1
  # Per target: executions and executions per second from libFuzzer's final stats.
  fuzz_stats="$(awk '
    /^[0-9]+: Test command: / { n = $1; sub(":", "", n); name = $4; sub(".*/", "", name); names[n] = name }
    /stat::number_of_executed_units:/ { n = $1; sub(":", "", n); runs[n] = $3 }
    /stat::average_exec_per_sec:/ { n = $1; sub(":", "", n); rate[n] = $3 }
    END { for (n in names) printf "%s %s runs, %s exec/s; ", names[n], runs[n], rate[n] }' "$dir/ctest.log")"
  grep -E '^ *[0-9]+/[0-9]+ Test|tests passed|Total Test time|ERROR: libFuzzer|SUMMARY:|==[0-9]+==ERROR' "$dir/ctest.log"
  echo "fuzz stats: $fuzz_stats"
  read_ctest_counts "$dir/ctest.log"
  if [[ $ctest_total -gt 0 && $ctest_failed -eq 0 ]]; then
    record fuzz PASS "$ctest_total targets passed: $fuzz_stats" $step_start
  else
    tail -80 "$dir/ctest.log"
    record fuzz FAIL "ctest: $ctest_failed of $ctest_total failed (see $dir/ctest.log): $fuzz_stats" $step_start
    [[ $ctest_total -lt 0 ]] && total_failed=$((total_failed + 1))
  fi
else
  record fuzz FAIL "build failed (see $dir/build.log)" $step_start
  total_failed=$((total_failed + 1))
fi

# ---------------------------------------------------------------------------
log "win64: mingw-w64 x86_64 cross build, tests under wine64"
step_start=$SECONDS
dir="$build_root/test-win64"
mkdir -p "$dir"
if configure_and_build "$dir" "$dir/build.log" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
     -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake"; then
  # A prefix of this build's own, headless, no Mono/Gecko installers.
  export WINEPREFIX="$dir/wine/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX" "$dir/wine/home"
  wine_env=(env -u DISPLAY -u WAYLAND_DISPLAY HOME="$dir/wine/home")
  if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    "${wine_env[@]}" "$wine64" wineboot -i </dev/null >"$dir/wineboot.log" 2>&1
  fi
  # Wine's background services inherit the standard output of whoever starts
  # them, and ctest waits for that pipe to close: start the server and the
  # services detached and warm before ctest, stop them after.
  "${wine_env[@]}" "$wineserver" -p </dev/null >/dev/null 2>&1
  "${wine_env[@]}" "$wine64" cmd /c exit </dev/null >/dev/null 2>&1
  (cd "$dir" && "${wine_env[@]}" ctest -j "$jobs" -V --timeout 900 </dev/null) >"$dir/ctest.log" 2>&1
  "${wine_env[@]}" "$wineserver" -k </dev/null >/dev/null 2>&1 || true
  unset WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
  grep -E '^ *[0-9]+/[0-9]+ Test|\[==========\] [0-9]+ tests? from .* ran|\[  (PASSED|FAILED) +\]|tests passed|Total Test time' "$dir/ctest.log"
  # Only the lines ctest -V prefixes with the test number: a failed test's
  # output is repeated without the prefix.
  gtest_ran="$(awk '/^[0-9]+: \[==========\] [0-9]+ tests? from .* ran/ { for (i = 1; i < NF; i++) if ($i == "[==========]") n += $(i + 1) } END { print n + 0 }' "$dir/ctest.log")"
  gtest_passed="$(awk '/^[0-9]+: \[  PASSED  \] [0-9]+ test/ { for (i = 1; i < NF; i++) if ($i == "PASSED") n += $(i + 2) } END { print n + 0 }' "$dir/ctest.log")"
  read_ctest_counts "$dir/ctest.log"
  if [[ $ctest_total -gt 0 && $ctest_failed -eq 0 ]]; then
    record win64 PASS "$ctest_total ctest tests passed; GoogleTest under Wine: ${gtest_passed:-?} of ${gtest_ran:-?} passed" $step_start
  else
    grep -E '\[  FAILED  \]|Failure|error' "$dir/ctest.log" | head -60
    tail -60 "$dir/ctest.log"
    record win64 FAIL "ctest: $ctest_failed of $ctest_total failed; GoogleTest under Wine: ${gtest_passed:-0} of ${gtest_ran:-?} passed (see $dir/ctest.log)" $step_start
    [[ $ctest_total -lt 0 ]] && total_failed=$((total_failed + 1))
  fi
else
  record win64 FAIL "build failed (see $dir/build.log)" $step_start
  total_failed=$((total_failed + 1))
fi

# ---------------------------------------------------------------------------
log "win32: mingw-w64 i686 cross build, static checks"
step_start=$SECONDS
dir="$build_root/test-win32"
mkdir -p "$dir"
if configure_and_build "$dir" "$dir/build.log" -DCMAKE_BUILD_TYPE=Release \
     -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake"; then
  (cd "$dir" && ctest -j "$jobs" -V </dev/null) >"$dir/ctest.log" 2>&1
  grep -E '^ *[0-9]+/[0-9]+ Test|: (file format|imports|[0-9]+ exports)|fails its binary check|^ +(missing|unexpected|decorated|imports|machine)|tests passed|Total Test time' "$dir/ctest.log"
  read_ctest_counts "$dir/ctest.log"
  if [[ $ctest_total -gt 0 && $ctest_failed -eq 0 ]]; then
    record win32 PASS "$ctest_total static checks passed (i386, exports, imports)" $step_start
  else
    record win32 FAIL "checks: $ctest_failed of $ctest_total failed (see $dir/ctest.log)" $step_start
    [[ $ctest_total -lt 0 ]] && total_failed=$((total_failed + 1))
  fi
else
  record win32 FAIL "build failed (see $dir/build.log)" $step_start
  total_failed=$((total_failed + 1))
fi

# ---------------------------------------------------------------------------
log "summary ($((SECONDS - script_start)) s)"
status=0
for i in "${!step_names[@]}"; do
  printf '%-6s %-4s %5ss  %s\n' "${step_names[$i]}" "${step_results[$i]}" "${step_seconds[$i]}" "${step_details[$i]}"
  [[ "${step_results[$i]}" == PASS ]] || status=1
done
[[ $total_failed -eq 0 ]] || status=1
if [[ $status -eq 0 ]]; then echo "ALL STEPS PASSED"; else echo "SOME STEPS FAILED"; fi
echo "tests: $total_passed passed, $total_failed failed"
exit $status
