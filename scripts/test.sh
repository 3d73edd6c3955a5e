#!/usr/bin/env bash
# Runs every test of the project on a Debian 12 machine, as root, from a fresh
# clone: installs missing packages, then
#   1. linux  gcc build with AddressSanitizer + UndefinedBehaviorSanitizer, ctest
#   1b. tsan  gcc build with ThreadSanitizer of the concurrency tests, ctest
#   2. fuzz   clang build of the libFuzzer targets, each run for a bounded time
#   3. win64  mingw-w64 x86_64 cross build, its tests under wine64
#   4. win32  mingw-w64 i686 cross build (the production DLL): static checks,
#             the Windows kit's zip among them, then, as a 32-bit process in a
#             64-bit Wine prefix, its tests, the zip's vxdiag demo and a host
#             built against the zip (static checks only where the kernel
#             cannot execute 32-bit code)
#   5. kit    Release build, the Debian package, and host builds and the
#             bindings against its unpacked tree
#   6. web    vxdiag serve's page in headless chromium (playwright-core), and
#             vxdiag.exe serve under Wine answering a scripted HTTP session
# and ends with a summary. Exits non-zero when any step fails.
#
# Environment: VXDIAG_FUZZ_SECONDS (default 30) bounds each fuzz run;
# VXDIAG_JOBS (default 2) is the build parallelism; VXDIAG_STEPS (e.g.
# "win32 kit") runs only the named steps, for work on one of them.
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
build_root="$root/build"
jobs="${VXDIAG_JOBS:-2}"
fuzz_seconds="${VXDIAG_FUZZ_SECONDS:-30}"
wine64=/usr/lib/wine/wine64
wine32=/usr/lib/wine/wine
wineserver=/usr/lib/wine/wineserver
export CTEST_OUTPUT_ON_FAILURE=1

script_start=$SECONDS
declare -a step_names=() step_results=() step_details=() step_seconds=()
total_passed=0
total_failed=0

log() { printf '\n==== %s\n' "$*"; }

# record <step> <PASS, FAIL or SKIP> <detail> <start seconds>
record() {
  step_names+=("$1")
  step_results+=("$2")
  step_details+=("$3")
  step_seconds+=("$((SECONDS - $4))")
  if [[ "$2" == FAIL ]]; then
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

# start_step <name> <title>: a new step, building in $dir (build/test-<name>).
start_step() {
  log "$2"
  step_start=$SECONDS
  dir="$build_root/test-$1"
  mkdir -p "$dir"
}

# record_ctest <step> <detail when passed> [detail added when failed]: the
# step's result from its ctest log, $dir/ctest.log. Returns 1 when it failed.
record_ctest() {
  read_ctest_counts "$dir/ctest.log"
  if [[ $ctest_total -gt 0 && $ctest_failed -eq 0 ]]; then
    record "$1" PASS "$ctest_total $2" $step_start
    return 0
  fi
  record "$1" FAIL "ctest: $ctest_failed of $ctest_total failed${3:-}" $step_start
  [[ $ctest_total -lt 0 ]] && total_failed=$((total_failed + 1))
  return 1
}

# skipped <step>: true, and the step recorded as SKIP, when VXDIAG_STEPS
# leaves it out.
skipped() {
  [[ -n "${VXDIAG_STEPS:-}" && " $VXDIAG_STEPS " != *" $1 "* ]] || return 1
  record "$1" SKIP "not in VXDIAG_STEPS" $step_start
}

# build_step <step> <cmake args...> [-- <build targets...>]: configure_and_build
# in $dir; a failure is the step's result.
build_step() {
  local step="$1"
  shift
  skipped "$step" && return 1
  configure_and_build "$dir" "$dir/build.log" "$@" && return 0
  record "$step" FAIL "build failed (see $dir/build.log)" $step_start
  total_failed=$((total_failed + 1))
  return 1
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

# wine_start <loader>: a 64-bit Wine prefix of the step's own in $dir/wine
# (headless, no Mono/Gecko installers), made by wine64 whichever loader runs
# the programs: the 32-bit loader in it is a 32-bit process on 64-bit Windows.
# Wine's background services inherit the standard output of whoever starts
# them, and ctest waits for that pipe to close: the server and the services
# are started detached and warm here, and stopped by wine_stop.
wine_start() {
  export WINEPREFIX="$dir/wine/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX" "$dir/wine/home"
  wine_env=(env -u DISPLAY -u WAYLAND_DISPLAY HOME="$dir/wine/home")
  if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    "${wine_env[@]}" "$wine64" wineboot -i </dev/null >"$dir/wineboot.log" 2>&1
  fi
  "${wine_env[@]}" "$wineserver" -p </dev/null >/dev/null 2>&1
  "${wine_env[@]}" "$1" cmd /c exit </dev/null >/dev/null 2>&1
}

wine_stop() {
  "${wine_env[@]}" "$wineserver" -k </dev/null >/dev/null 2>&1 || true
  unset WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
}

# gtest_counts: the GoogleTest totals of $dir/ctest.log (ctest -V) into
# gtest_ran, gtest_passed and gtest_skipped. Only the lines ctest prefixes
# with the test number count: a failed test's output is repeated without it.
gtest_counts() {
  # By test number, the last run's totals: a test run again under Wine counts once.
  read -r gtest_ran gtest_passed gtest_skipped < <(awk '
    /^[0-9]+: \[==========\] [0-9]+ tests? from .* ran/ { for (i = 1; i < NF; i++) if ($i == "[==========]") r[$1] = $(i + 1) }
    /^[0-9]+: \[  PASSED  \] [0-9]+ test/ { for (i = 1; i < NF; i++) if ($i == "PASSED") p[$1] = $(i + 2) }
    /^[0-9]+: \[  SKIPPED \] [0-9]+ test/ { for (i = 1; i < NF; i++) if ($i == "SKIPPED") k[$1] = $(i + 2) }
    END { for (t in r) R += r[t]; for (t in p) P += p[t]; for (t in k) K += k[t]; print R + 0, P + 0, K + 0 }' "$dir/ctest.log")
}

# Under Wine a process now and then dies as it starts, before it prints a
# line (seen about once in 150 runs of the Windows suites: reg.exe started by
# the discovery test, vxdiag.exe started by ctest). The Wine steps give a
# failed test one more run (wine_ctest_args); wine_retried names each test that
# passed only then, and the step's summary shows them, so a retry is never
# silent and a test that fails twice fails the step.
wine_ctest_args=(-j "$jobs" -V --timeout 900 --repeat until-pass:2)
wine_retried() {
  local names
  names="$(sed -nE 's/^ +Test +#[0-9]+: ([^ ]+) \.+ +Passed.*/\1/p' "$dir/ctest.log" | tr '\n' ' ')"
  [[ -z "$names" ]] || echo "; passed on a second run under Wine: ${names% }"
}

# can_execute_i386: whether this kernel runs 32-bit x86 code, tried with a
# static i386 ELF that exits with 42.
can_execute_i386() {
  printf '.globl _start\n_start:\n  movl $1, %%eax\n  movl $42, %%ebx\n  int $0x80\n' >"$dir/i386-probe.s"
  as --32 -o "$dir/i386-probe.o" "$dir/i386-probe.s" && ld -m elf_i386 -o "$dir/i386-probe" "$dir/i386-probe.o" ||
    return 1
  "$dir/i386-probe" 2>/dev/null
  [[ $? -eq 42 ]]
}

# step_check <what> <command...>: one check of a step beyond its ctest run,
# its output into $dir/kit.log; counted in checks_passed and checks_failed.
step_check() {
  local what="$1"
  shift
  printf '\n==== %s\n' "$what" >>"$dir/kit.log"
  if "$@" >>"$dir/kit.log" 2>&1; then
    echo "ok   $what"
    checks_passed=$((checks_passed + 1))
  else
    echo "FAIL $what (see $dir/kit.log)"
    checks_failed=$((checks_failed + 1))
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
start_step linux "linux: gcc, AddressSanitizer + UndefinedBehaviorSanitizer"
if build_step linux -DCMAKE_BUILD_TYPE=Debug \
     -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DVXDIAG_SANITIZE=address,undefined; then
  (cd "$dir" && ctest -j "$jobs" --timeout 600 </dev/null) 2>&1 | tee "$dir/ctest.log"
  record_ctest linux "ctest tests passed"
fi

# ---------------------------------------------------------------------------
start_step tsan "tsan: gcc, ThreadSanitizer, the concurrency tests"
# Only the threaded test program is built here (tests/reliability); the rest
# of the tree is single-threaded per call and covered by the linux step.
if build_step tsan -DCMAKE_BUILD_TYPE=Debug \
     -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DVXDIAG_SANITIZE=thread -- vxcore_concurrency_tests; then
  (cd "$dir" && TSAN_OPTIONS="halt_on_error=1 ${TSAN_OPTIONS:-}" ctest -L reliability -j "$jobs" --timeout 600 </dev/null) 2>&1 | tee "$dir/ctest.log"
  record_ctest tsan "ctest tests passed, no ThreadSanitizer report"
fi

# ---------------------------------------------------------------------------
start_step fuzz "fuzz: clang libFuzzer targets, ${fuzz_seconds} s each"
if build_step fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
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
  if ! record_ctest fuzz "targets passed: $fuzz_stats" " (see $dir/ctest.log): $fuzz_stats"; then
    tail -80 "$dir/ctest.log"
  fi
fi

# ---------------------------------------------------------------------------
start_step win64 "win64: mingw-w64 x86_64 cross build, tests under wine64"
if build_step win64 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
     -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake"; then
  wine_start "$wine64"
  (cd "$dir" && "${wine_env[@]}" ctest "${wine_ctest_args[@]}" </dev/null) >"$dir/ctest.log" 2>&1
  wine_stop
  grep -E '^ *[0-9]+/[0-9]+ Test|^ +Test +#|\[==========\] [0-9]+ tests? from .* ran|\[  (PASSED|FAILED) +\]|tests passed|Total Test time' "$dir/ctest.log"
  gtest_counts
  if ! record_ctest win64 "ctest tests passed; GoogleTest under Wine: ${gtest_passed:-?} of ${gtest_ran:-?} passed$(wine_retried)" \
       "; GoogleTest under Wine: ${gtest_passed:-0} of ${gtest_ran:-?} passed (see $dir/ctest.log)"; then
    grep -E '\[  FAILED  \]|Failure|error' "$dir/ctest.log" | head -60
    tail -60 "$dir/ctest.log"
  fi
fi

# ---------------------------------------------------------------------------
start_step win32 "win32: mingw-w64 i686 cross build (the production DLL), run as a 32-bit process on 64-bit Windows"
# Where the kernel cannot execute 32-bit code no emulator is configured, and
# only the static checks are registered.
win32_runs=0
win32_emulator=(-DCMAKE_CROSSCOMPILING_EMULATOR=)
if can_execute_i386; then
  win32_runs=1
  win32_emulator=(-DCMAKE_CROSSCOMPILING_EMULATOR="$wine32")
fi
if build_step win32 -DCMAKE_BUILD_TYPE=Release "${win32_emulator[@]}" \
     -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake"; then
  if [[ $win32_runs -eq 1 ]]; then
    wine_start "$wine32"
    (cd "$dir" && "${wine_env[@]}" ctest "${wine_ctest_args[@]}" </dev/null) >"$dir/ctest.log" 2>&1
  else
    (cd "$dir" && ctest -j "$jobs" -V </dev/null) >"$dir/ctest.log" 2>&1
  fi
  grep -E '^ *[0-9]+/[0-9]+ Test|^ +Test +#|: (file format|imports|[0-9]+ exports)|fails its (binary|kit) check|^ +(missing|unexpected|decorated|imports|machine|VERSIONINFO|lib/|include/)|holds the kit|VERSIONINFO|import thunks|imports the exports by|\[==========\] [0-9]+ tests? from .* ran|\[  (PASSED|FAILED|SKIPPED) +\]|[0-9]+ exports called through|tests passed|Total Test time' "$dir/ctest.log"
  if [[ $win32_runs -eq 0 ]]; then
    record_ctest win32 "static checks passed (i386, exports, imports; the kit's zip: files, VERSIONINFO, import libraries); static checks only: this kernel cannot execute 32-bit code" \
      " (see $dir/ctest.log); static checks only: this kernel cannot execute 32-bit code"
  else
    gtest_counts
    read_ctest_counts "$dir/ctest.log"
    win32_ctest_total=$ctest_total win32_ctest_failed=$ctest_failed
    # The kit's own files, as a host developer unpacks the zip: vxdiag.exe
    # runs its demo, and a host built with find_package runs a session
    # against the zip's DLL and simulated VCI.
    win32_kit="$(ls -d "$dir"/kit/unpacked/VXArvessaDiagCore-*-win32 2>/dev/null | head -1)"
    win32_zip_demo() {
      [[ -n "$win32_kit" ]] || { echo "the zip was not unpacked"; return 1; }
      "${wine_env[@]}" timeout 300 "$wine32" "$win32_kit/bin/vxdiag.exe" --color never demo </dev/null | tee "$dir/zip-demo.log"
      # Without --core and --dll it takes the core and the simulated VCI beside it.
      grep -q 'vxdiag: all [0-9]* steps ok' "$dir/zip-demo.log" &&
        grep -Eq '^  core library +Z:.*-win32\\bin\\VXArvessaDiagCore\.dll' "$dir/zip-demo.log" &&
        grep -Eq '^  PassThru library +Z:.*-win32\\bin\\simulated-vci\\vxdiag-simulated-vci\.dll' "$dir/zip-demo.log"
    }
    win32_zip_host() {
      [[ -n "$win32_kit" ]] || { echo "the zip was not unpacked"; return 1; }
      cmake -S "$root/tests/kit" -B "$dir/host-zip" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" -DCMAKE_EXE_LINKER_FLAGS=-static \
            -DVXArvessaDiagCore_DIR="$win32_kit/lib/cmake/VXArvessaDiagCore" &&
        cmake --build "$dir/host-zip" &&
        "${wine_env[@]}" WINEPATH="Z:$win32_kit/bin" VXSIM_INSTANT=1 timeout 120 "$wine32" \
          "$dir/host-zip/kit_consumer.exe" "Z:$win32_kit/bin/simulated-vci/vxdiag-simulated-vci.dll" </dev/null
    }
    : >"$dir/kit.log"
    checks_passed=0 checks_failed=0
    step_check "the zip's vxdiag.exe demo, 32-bit host, core and simulated VCI" win32_zip_demo
    step_check "a host built for i686 with find_package against the zip runs a session" win32_zip_host
    win32_checks_failed=$checks_failed
    total_passed=$((total_passed + checks_passed))
    total_failed=$((total_failed + checks_failed))
    wine_stop
    win32_detail="ctest $((win32_ctest_total - win32_ctest_failed)) of $win32_ctest_total passed (GoogleTest under the 32-bit loader: $gtest_passed of $gtest_ran passed, $gtest_skipped Linux-only skipped; calling conventions; static checks of the DLL and the zip); zip: vxdiag demo and a find_package host$(wine_retried)"
    if [[ $win32_ctest_total -gt 0 && $win32_ctest_failed -eq 0 && $win32_checks_failed -eq 0 ]]; then
      record win32 PASS "$win32_detail" $step_start
    else
      [[ $win32_ctest_total -lt 0 ]] && total_failed=$((total_failed + 1))
      record win32 FAIL "$win32_ctest_failed ctest and $win32_checks_failed zip checks failed: $win32_detail (see $dir/ctest.log, $dir/kit.log)" $step_start
      grep -E '\[  FAILED  \]|Failure|FAIL ' "$dir/ctest.log" | head -60
    fi
  fi
fi

# ---------------------------------------------------------------------------
# The kit as a host developer gets it: a Release build without sanitizers,
# packaged by cpack, unpacked with dpkg-deb (not installed), and used from the
# unpacked tree by a CMake host, a pkg-config host, vxdiag, and the Python and
# C# bindings, each running a session against the packaged simulated VCI.
start_step kit "kit: Release build, Debian package, hosts and bindings against the unpacked package"
multiarch="$(gcc -print-multiarch)"
kit_usr="$dir/unpacked/usr"
kit_lib="$kit_usr/lib/$multiarch"
kit_core="$kit_lib/libVXArvessaDiagCore.so"
kit_sim="$kit_lib/VXArvessaDiagCore/simulated-vci/libvxdiag-simulated-vci.so"
checks_passed=0
checks_failed=0
: >"$dir/kit.log"

kit_debian_package() {
  (cd "$dir" && cpack -G DEB) || return 1
  local deb
  deb="$(ls "$dir"/packages/vxarvessadiagcore_*_amd64.deb)" || return 1
  dpkg-deb --info "$deb" && dpkg-deb --contents "$deb" | tee "$dir/deb-contents.txt" || return 1
  local file
  for file in bin/vxdiag include/VXArvessaDiagCore.h "lib/$multiarch/libVXArvessaDiagCore.so" \
      "lib/$multiarch/cmake/VXArvessaDiagCore/VXArvessaDiagCoreConfig.cmake" \
      "lib/$multiarch/pkgconfig/VXArvessaDiagCore.pc" \
      "lib/$multiarch/VXArvessaDiagCore/simulated-vci/libvxdiag-simulated-vci.so"; do
    grep -Eq " \./usr/$file( ->|$)" "$dir/deb-contents.txt" || { echo "the package lacks /usr/$file"; return 1; }
  done
  rm -rf "$dir/unpacked" && dpkg-deb --extract "$deb" "$dir/unpacked"
}

# The library's SONAME is the name of a link beside it (libVXArvessaDiagCore.so.<major>).
kit_soname() {
  local soname
  soname="$(objdump -p "$kit_core" | awk '$1 == "SONAME" { print $2 }')"
  echo "SONAME $soname"
  [[ "$soname" == libVXArvessaDiagCore.so.[0-9]* && -L "$kit_lib/$soname" ]]
}

kit_cmake_host() {
  cmake -S "$root/tests/kit" -B "$dir/host-cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_PREFIX_PATH="$kit_usr" &&
    cmake --build "$dir/host-cmake" && VXSIM_INSTANT=1 "$dir/host-cmake/kit_consumer" "$kit_sim"
}

kit_pkg_config_host() {
  local flags
  flags="$(PKG_CONFIG_PATH="$kit_lib/pkgconfig" pkg-config --cflags --libs VXArvessaDiagCore)" || return 1
  echo "pkg-config --cflags --libs VXArvessaDiagCore: $flags"
  # $flags is split into its options on purpose.
  # shellcheck disable=SC2086
  cc -std=c99 -Wall -Wextra -Wpedantic -Werror "$root/tests/kit/consumer.c" $flags -Wl,-rpath,"$kit_lib" \
     -o "$dir/host-pkg-config" && VXSIM_INSTANT=1 "$dir/host-pkg-config" "$kit_sim"
}

# Without --core and --dll the packaged vxdiag takes the core and the
# simulated VCI installed beside it.
kit_vxdiag() {
  VXSIM_INSTANT=1 "$kit_usr/bin/vxdiag" --color never --version | grep -F "usr/lib/$multiarch/libVXArvessaDiagCore.so" &&
    VXSIM_INSTANT=1 "$kit_usr/bin/vxdiag" --color never run open connect:10400 init:0x33 battery close log |
    grep -F "simulated-vci/libvxdiag-simulated-vci.so"
}

# The Python package as a host developer installs it: pip into a fresh venv,
# offline (the package builds itself with the standard library), then its
# tests run from that venv against the packaged core and simulated VCI.
kit_python_install() {
  local package="$kit_usr/share/VXArvessaDiagCore/bindings/python"
  rm -rf "$dir/venv" &&
    /usr/bin/python3 -m venv "$dir/venv" &&
    PYTHONDONTWRITEBYTECODE=1 "$dir/venv/bin/python" -m pip install --no-index --no-cache-dir "$package" &&
    "$dir/venv/bin/python" -m pip show vxdiagcore | grep -Fx "Version: $(kit_project_version)" &&
    "$dir/venv/bin/python" -c 'import vxdiagcore; print(vxdiagcore.__file__)' | grep -F "$dir/venv/"
}

kit_project_version() {
  sed -n 's/^project(VXArvessaDiagCore VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt"
}

kit_mypy() {
  (cd "$dir" && /usr/bin/python3 -m mypy --strict --cache-dir "$dir/mypy-cache" \
     "$kit_usr/share/VXArvessaDiagCore/bindings/python/vxdiagcore")
}

kit_python() {
  # From the venv: the installed package, not the source tree.
  (cd "$dir" && env PYTHONDONTWRITEBYTECODE=1 \
      VXDIAG_CORE_LIBRARY="$kit_core" VXDIAG_SIM_LIBRARY="$kit_sim" \
      VXDIAG_HEADER="$kit_usr/include/VXArvessaDiagCore.h" VXSIM_INSTANT=1 \
      timeout 120 "$dir/venv/bin/python" -m unittest discover -s "$root/bindings/python/tests" -t "$root/bindings/python/tests" -v) 2>&1 |
    tee "$dir/python.log"
  # A skipped test is a failure here: the core and the VCI are both given.
  grep -q '^OK$' "$dir/python.log"
}

kit_dotnet_build() {
  local bindings="$kit_usr/share/VXArvessaDiagCore/bindings/dotnet"
  mkdir -p "$dir/dotnet"
  mcs -target:library -out:"$dir/dotnet/VXArvessaDiagCore.Net.dll" "$bindings/NativeMethods.cs" "$bindings/Core.cs" &&
    mcs -r:"$dir/dotnet/VXArvessaDiagCore.Net.dll" -out:"$dir/dotnet/VxDiagSample.exe" "$bindings/Sample.cs" &&
    mcs -r:"$dir/dotnet/VXArvessaDiagCore.Net.dll" -out:"$dir/dotnet/BindingTest.exe" \
        "$root/bindings/dotnet/tests/BindingTest.cs"
}

# The binding loads the packaged core by its full path; no library path needed.
# kit_mono <program> [more arguments]
kit_mono() {
  local program="$1"
  shift
  env VXSIM_INSTANT=1 timeout 120 mono "$dir/dotnet/$program" "$kit_core" "$kit_sim" "$@" 2>&1 | tee "$dir/$program.log"
}

if build_step kit -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
     -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON -- VXArvessaDiagCore passthru_sim vxdiag; then
  step_check "cpack -G DEB: the package holds the kit, unpacked with dpkg-deb" kit_debian_package
  step_check "the library's SONAME names its versioned link" kit_soname
  step_check "a CMake host (find_package) builds against the unpacked tree and runs" kit_cmake_host
  step_check "a pkg-config host builds against the unpacked tree and runs" kit_pkg_config_host
  step_check "the packaged vxdiag runs a session" kit_vxdiag
  step_check "Python binding: pip install of the kit's package into a fresh venv, offline" kit_python_install
  step_check "Python binding: mypy --strict on the kit's package" kit_mypy
  step_check "Python binding: unittest from the venv against the simulated VCI" kit_python
  step_check "C# binding and sample: built with mcs" kit_dotnet_build
  step_check "C# sample: a session under Mono" kit_mono VxDiagSample.exe
  step_check "C# binding: checks under Mono" kit_mono BindingTest.exe "$kit_usr/include/VXArvessaDiagCore.h"
  python_tests="$(sed -n 's/^Ran \([0-9]*\) tests\{0,1\} in .*/\1/p' "$dir/python.log" 2>/dev/null)"
  dotnet_checks="$(grep -Eo '^[0-9]+ passed, [0-9]+ failed$' "$dir/BindingTest.exe.log" 2>/dev/null)"
  kit_detail="Python binding: ${python_tests:-no} tests; C# binding: ${dotnet_checks:-not run}"
  total_passed=$((total_passed + checks_passed))
  total_failed=$((total_failed + checks_failed))
  if [[ $checks_failed -eq 0 ]]; then
    record kit PASS "$checks_passed checks passed ($kit_detail)" $step_start
  else
    record kit FAIL "$checks_failed of $((checks_passed + checks_failed)) checks failed (see $dir/kit.log; $kit_detail)" $step_start
  fi
fi

# ---------------------------------------------------------------------------
# The page of `vxdiag serve` as a user sees it: Debian's chromium, headless,
# driven by playwright-core (installed from tools/vxdiag/web's lockfile by
# install-deps.sh) through a whole session against the simulated VCI, the
# server's refusals, and a function that outlives its tab and Ctrl-C; then
# the Windows builds' vxdiag.exe serve under Wine, driven over HTTP. vxdiag is
# the kit step's Release build; the screenshots go to build/test-web.
web_dir="$root/tools/vxdiag/web"

# web_browser: the browser session; its output in $dir/browser.log.
web_browser() {
  if ! configure_and_build "$build_root/test-kit" "$dir/build.log" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
       -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON -- vxdiag; then
    echo "web: vxdiag did not build (see $dir/build.log)"
    return 1
  fi
  (cd "$web_dir" && node tests/browser_session.mjs "$build_root/test-kit/tools/vxdiag" "$dir" \
     "$web_dir/rows-simulated-vehicle.json") </dev/null >"$dir/browser.log" 2>&1
  local status=$?
  grep -E '^ok |browser tests:' "$dir/browser.log"
  [[ $status -eq 0 ]] || tail -40 "$dir/browser.log"
  return $status
}

# web_wine <step> <loader>: vxdiag.exe of build/test-<step> serves a scripted
# HTTP session under Wine, in that build's prefix.
web_wine() {
  local build="$build_root/test-$1" loader="$2"
  if [[ ! -x "$loader" ]] || ! cmake --build "$build" --target vxdiag >>"$dir/build.log" 2>&1; then
    echo "web: no $loader or no vxdiag.exe in $build (the $1 step builds it)"
    return 1
  fi
  local -a wine_env=(env -u DISPLAY -u WAYLAND_DISPLAY HOME="$build/wine/home" WINEPREFIX="$build/wine/prefix"
                     WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=")
  mkdir -p "$build/wine/home" "$build/wine/prefix"
  if [[ ! -f "$build/wine/prefix/system.reg" ]]; then
    "${wine_env[@]}" "$wine64" wineboot -i </dev/null >"$dir/wineboot-$1.log" 2>&1
  fi
  "${wine_env[@]}" "$wineserver" -p </dev/null >/dev/null 2>&1
  "${wine_env[@]}" "$loader" cmd /c exit </dev/null >/dev/null 2>&1
  (cd "$web_dir" && "${wine_env[@]}" node tests/wine_session.mjs "$loader" "$build/tools/vxdiag.exe") \
    </dev/null >"$dir/wine-$1.log" 2>&1
  local status=$?
  "${wine_env[@]}" "$wineserver" -k </dev/null >/dev/null 2>&1 || true
  [[ $status -eq 0 ]] && tail -1 "$dir/wine-$1.log" || tail -30 "$dir/wine-$1.log"
  return $status
}

start_step web "web: vxdiag serve's page in headless chromium; vxdiag.exe serve under Wine"
if ! skipped web; then
  web_results=()
  web_failed=0
  for web_check in "browser" "wine win64 $wine64" "wine win32 /usr/lib/wine/wine"; do
    read -r web_kind web_build web_loader <<<"$web_check"
    if [[ $web_kind == browser ]]; then web_browser; else web_wine "$web_build" "$web_loader"; fi
    if [[ $? -eq 0 ]]; then
      web_results+=("${web_build:-browser} ok")
    else
      web_results+=("${web_build:-browser} FAILED")
      web_failed=$((web_failed + 1))
    fi
  done
  web_browser_checks="$(sed -n 's/^browser tests: \([0-9]*\) passed$/\1/p' "$dir/browser.log" 2>/dev/null)"
  # Each browser check counts as a test, and each Wine session as one.
  web_wine_passed="$(grep -c ' ok$' <<<"$(printf '%s\n' "${web_results[@]}" | grep -v '^browser')")"
  total_passed=$((total_passed + ${web_browser_checks:-0} + web_wine_passed))
  total_failed=$((total_failed + web_failed))
  if [[ $web_failed -eq 0 ]]; then
    record web PASS "${web_browser_checks:-0} browser checks; vxdiag.exe serve under wine64 and 32-bit wine; screenshots in $dir" $step_start
  else
    record web FAIL "$web_failed of 3 parts failed: ${web_results[*]} (see $dir/*.log)" $step_start
  fi
fi

# ---------------------------------------------------------------------------
log "summary ($((SECONDS - script_start)) s)"
status=0
for i in "${!step_names[@]}"; do
  printf '%-6s %-4s %5ss  %s\n' "${step_names[$i]}" "${step_results[$i]}" "${step_seconds[$i]}" "${step_details[$i]}"
  [[ "${step_results[$i]}" == PASS || "${step_results[$i]}" == SKIP ]] || status=1
done
[[ $total_failed -eq 0 ]] || status=1
if [[ $status -eq 0 ]]; then echo "ALL STEPS PASSED"; else echo "SOME STEPS FAILED"; fi
echo "tests: $total_passed passed, $total_failed failed"
exit $status
