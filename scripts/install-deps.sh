#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, skipping those
# already installed. Run as root.
#
#   scripts/install-deps.sh [main|all]
#     main  what the main job needs: a C++ toolchain, CMake, Ninja and the
#           header libraries of the core and vxdiag (nlohmann-json, CLI11, fmt,
#           Boost for the HTTP server of vxdiag serve)
#     all   everything the test command uses (the default)
set -euo pipefail

set_name="${1:-all}"

main_packages=(cmake ninja-build g++ nlohmann-json3-dev libcli11-dev libfmt-dev libboost-dev)

all_packages=(
  "${main_packages[@]}"
  binutils
  clang
  libclang-rt-14-dev            # libFuzzer and the sanitizer runtimes for clang
  googletest                    # GoogleTest sources for the cross builds
  libgtest-dev libgmock-dev
  libbenchmark-dev
  nlohmann-json3-dev
  libcli11-dev
  libfmt-dev
  g++-mingw-w64-x86-64-posix    # Windows x86_64 cross compiler, posix threads
  g++-mingw-w64-i686-posix      # Windows i686 cross compiler, posix threads
  binutils-mingw-w64-x86-64
  binutils-mingw-w64-i686
  wine64                        # runs the x86_64 test programs, makes the 64-bit prefix
  wine32:i386                   # the 32-bit loader: the i686 (production) programs in that prefix
  valgrind
  gcovr                         # line and branch coverage report (scripts/coverage.sh)
  # The host developers' kit: packages, import library, bindings
  dpkg-dev                      # dpkg-shlibdeps for the Debian package's dependencies
  file                          # CPack's Debian generator tells ELF files apart with it
  pkg-config                    # the kit's consumer build through VXArvessaDiagCore.pc
  llvm-14                       # llvm-dlltool-14: the MSVC import library of the Windows kit
  python3                       # the Python binding's tests (Debian's python3, standard library only)
  python3-venv                  # a fresh venv for pip install of the kit's Python package
  python3-mypy                  # mypy --strict on the Python package
  mono-mcs                      # the C# binding and its sample
  mono-runtime
  chromium                      # vxdiag serve's page in a real browser (the web step)
)

case "$set_name" in
  main) wanted=("${main_packages[@]}") ;;
  all) wanted=("${all_packages[@]}") ;;
  *) echo "usage: $0 [main|all]" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
  status="$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)"
  if [[ "$status" != "install ok installed" ]]; then
    missing+=("$package")
  fi
done

# The page's charting library (bundled into vxdiag at build time) and, for
# the tests, playwright-core, from tools/vxdiag/web's lockfile. Node and npm
# come with the machine (Debian's npm package conflicts with them).
install_node_packages() {
  local web_dir
  web_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/tools/vxdiag/web"
  if ! command -v npm >/dev/null 2>&1; then
    if [[ "$set_name" == all ]]; then
      echo "install-deps: npm is missing: install Node.js 20 with npm to build the page and run its browser tests" >&2
      return 1
    fi
    echo "install-deps: warning: no npm: vxdiag serve's page is built without its plot" >&2
    return 0
  fi
  echo "install-deps: npm ci in $web_dir"
  (cd "$web_dir" && npm ci --no-audit --no-fund --loglevel=error)
}

if [[ ${#missing[@]} -eq 0 ]]; then
  echo "install-deps: all ${#wanted[@]} packages ($set_name) are installed"
  install_node_packages
  exit $?
fi

echo "install-deps: installing ${missing[*]}"
if [[ "$(id -u)" -ne 0 ]]; then
  echo "install-deps: missing packages; run this script as root" >&2
  exit 1
fi
if [[ -r /etc/debian_version ]] && [[ "$(cut -d. -f1 /etc/debian_version)" != "12" ]]; then
  echo "install-deps: warning: written for Debian 12, found $(cat /etc/debian_version)" >&2
fi

export DEBIAN_FRONTEND=noninteractive
apt_options=(-o DPkg::Lock::Timeout=600 -o Dpkg::Use-Pty=0 -q)
# wine32 is an i386 package; it brings the i386 libraries it needs and keeps
# the amd64 ones.
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get "${apt_options[@]}" update
# No recommended packages: only what the test command uses (wine32 alone
# recommends fonts, a desktop and 32-bit graphics drivers, none of them
# needed by console programs).
apt-get "${apt_options[@]}" install -y --no-install-recommends "${missing[@]}" </dev/null
install_node_packages
echo "install-deps: done"
