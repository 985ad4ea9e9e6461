#!/usr/bin/env bash
# Builds every preset and runs every test: the unit tests (native and with
# sanitizers), the Windows cross build with its end-to-end tests under Wine, and
# a short bounded run of each fuzz target. Installs the Debian packages it needs
# when they are missing. Runs from any directory; exits non-zero on the first
# failure.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

# Debian packages the builds and tests need. `wine` is the package with the
# `wine` command; wine64 only recommends it.
packages=(
  cmake g++ clang libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-x86-64 wine64 wine
)

install_missing_packages() {
  local missing=() package
  for package in "${packages[@]}"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
  done
  if ((${#missing[@]} == 0)); then
    return 0
  fi
  echo "== installing: ${missing[*]}"
  local sudo=()
  if [[ $(id -u) -ne 0 ]]; then
    sudo=(sudo)
  fi
  "${sudo[@]}" apt-get update
  # With their recommended packages: Wine's fonts and helpers are among them.
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
}

# The end-to-end tests run in this throw-away Wine prefix; CTest's cleanup
# fixture ends its Wine server. Should this script stop early (a failed build
# step, an interrupt), this trap does it, for that one prefix only.
wine_prefix=$repo/build/windows/wineprefix
end_wine() {
  if [[ -e $wine_prefix/.vdksvc-throwaway-prefix ]]; then
    bash "$repo/tests/e2e/wine_prefix.sh" cleanup "$wine_prefix" >/dev/null 2>&1 || true
  fi
}
trap end_wine EXIT

timings=()
step() {
  local name=$1
  shift
  echo "== $name: $*"
  local start=$SECONDS
  "$@"
  timings+=("$(printf '%-10s %4d s' "$name" $((SECONDS - start)))")
}

install_missing_packages

step native cmake --workflow --preset native
step sanitize cmake --workflow --preset sanitize
step windows cmake --workflow --preset windows

step fuzz bash scripts/fuzz.sh

echo "== all passed"
printf '   %s\n' "${timings[@]}"
