#!/usr/bin/env bash
# Line and branch coverage of src/ by the Linux tests.
#
#   scripts/coverage.sh
#
# A gcc --coverage build (Debug, no sanitizers) in build/coverage, its ctest
# run (every test the Linux build registers: the GoogleTest programs, the
# reliability tests, the vxdiag process tests, the host and export checks),
# then a gcovr report of src/ only:
#   build/coverage/html/index.html     annotated sources
#   build/coverage/coverage-lines.txt  per-file line coverage table
#   build/coverage/coverage-branches.txt  per-file branch coverage table
# and one summary line at the end. Branches that the compiler adds for
# exception handling and on lines without code are not counted.
#
# Exit status: 1 when the build or the report fails, 3 when a test failed (the
# report is still made and the summary line says how many tests failed).
# Environment: VXDIAG_JOBS (default 2) is the build and ctest parallelism.
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
jobs="${VXDIAG_JOBS:-2}"
dir="$root/build/coverage"
mkdir -p "$dir"

if ! command -v gcovr >/dev/null 2>&1; then
  bash "$root/scripts/install-deps.sh" all || { echo "coverage: cannot install gcovr" >&2; exit 1; }
fi

echo "==== coverage: configure and build ($dir)"
if ! cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
     -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DVXDIAG_SANITIZE= \
     -DVXDIAG_FUZZ=OFF -DBUILD_TESTING=ON \
     -DCMAKE_C_FLAGS=--coverage -DCMAKE_CXX_FLAGS=--coverage \
     -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage \
     >"$dir/build.log" 2>&1; then
  tail -40 "$dir/build.log"
  echo "coverage: configure failed (see $dir/build.log)" >&2
  exit 1
fi
if ! cmake --build "$dir" -j "$jobs" >>"$dir/build.log" 2>&1; then
  grep -E -A12 '^FAILED:|error:' "$dir/build.log" | head -120
  echo "coverage: build failed (see $dir/build.log)" >&2
  exit 1
fi

echo "==== coverage: ctest"
# Counters of an earlier run would add up with this one.
find "$dir" -name '*.gcda' -delete
(cd "$dir" && CTEST_OUTPUT_ON_FAILURE=1 ctest -j "$jobs" --timeout 600 -LE fuzz </dev/null) 2>&1 | tee "$dir/ctest.log"
counts="$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$dir/ctest.log" | tail -1)"
if [[ -z "$counts" ]]; then
  tests_note="ctest gave no result"
  tests_ok=0
else
  failed="$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$counts")"
  total="$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$counts")"
  if [[ "$failed" -eq 0 ]]; then
    tests_note="all $total tests passed"
    tests_ok=1
  else
    tests_note="$failed of $total tests FAILED"
    tests_ok=0
  fi
fi

echo "==== coverage: gcovr report of src/"
rm -rf "$dir/html"
mkdir -p "$dir/html"
gcovr_args=("$dir" --root "$root" --filter "$root/src/"
            --exclude-directories "$dir/CMakeFiles/[0-9.]+/"
            --exclude-throw-branches --exclude-unreachable-branches -j "$jobs")
if ! gcovr "${gcovr_args[@]}" \
      --html-details "$dir/html/index.html" \
      --txt "$dir/coverage-lines.txt" \
      --json-summary "$dir/coverage-summary.json" >"$dir/gcovr.log" 2>&1 \
   || ! gcovr "${gcovr_args[@]}" --branches --txt "$dir/coverage-branches.txt" >>"$dir/gcovr.log" 2>&1; then
  tail -40 "$dir/gcovr.log"
  echo "coverage: gcovr failed (see $dir/gcovr.log)" >&2
  exit 1
fi
cat "$dir/coverage-lines.txt"

summary="$(python3 - "$dir/coverage-summary.json" <<'EOF'
import json, sys
s = json.load(open(sys.argv[1]))
def part(kind):
    covered, total = s[kind + "_covered"], s[kind + "_total"]
    percent = 100.0 * covered / total if total else 100.0
    return f"{ {'line': 'lines', 'branch': 'branches'}[kind]} {percent:.1f}% ({covered}/{total})"
print(f"{part('line')}, {part('branch')}")
EOF
)" || { echo "coverage: cannot read $dir/coverage-summary.json" >&2; exit 1; }

echo "html report: $dir/html/index.html"
echo "coverage of src/: $summary; tests: $tests_note"
[[ $tests_ok -eq 1 ]] || exit 3
exit 0
