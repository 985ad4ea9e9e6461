#!/usr/bin/env bash
# Builds every preset and runs every test: the format and static checks
# (scripts/analyze.sh), the unit tests (native, under valgrind, and with
# sanitizers), the two Windows cross builds (mingw-w64 GCC, and clang with lld)
# with their end-to-end tests under Wine (the GCC build's through its test kit,
# as a Windows user runs it), the release zips (contents, checksums, the same
# bytes from a second build folder), a signed build, and a short bounded run of
# each fuzz target. Installs the Debian packages it needs when they are missing.
# Runs from any directory; exits non-zero on the first failing step. The end-to-end suites
# run in the background beside the fuzzers; the last step waits for them and
# fails if either did.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

# Debian packages the builds and tests need, in two groups: those of the Linux
# builds and checks, which come first, and those only the Windows builds, the
# release zips and the end-to-end tests under Wine need. `wine` is the package
# with the `wine` command; wine64 only recommends it.
linux_packages=(
  cmake g++ clang libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang-format clang-tidy cppcheck valgrind
)
windows_packages=(g++-mingw-w64-x86-64 lld wine64 wine zip osslsigncode openssl)

# Prints the packages of "$@" that are not installed. A package removed but not
# purged is still known to dpkg (its configuration files stay) but is not installed.
missing_packages() {
  local package
  for package in "$@"; do
    [[ $(dpkg-query -W -f='${Status}' "$package" 2>/dev/null) == "install ok installed" ]] ||
      echo "$package"
  done
}

sudo=()
if [[ $(id -u) -ne 0 ]]; then
  sudo=(sudo)
fi
apt_updated=0
# Installs the packages named, with their recommended packages (Wine's fonts and
# helpers are among them).
apt_install() {
  echo "== installing: $*"
  if ((apt_updated == 0)); then
    "${sudo[@]}" apt-get update
  fi
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y "$@"
}

# The Linux packages are installed before anything runs; the Windows packages in
# the background, beside the Linux builds and tests (on a fresh machine their
# download and unpacking take a minute or more), and waited for before the first
# Windows build.
packages_pid=
install_packages() {
  local missing
  mkdir -p build
  mapfile -t missing < <(missing_packages "${linux_packages[@]}")
  if ((${#missing[@]} > 0)); then
    apt_install "${missing[@]}"
    apt_updated=1
  fi
  mapfile -t missing < <(missing_packages "${windows_packages[@]}")
  if ((${#missing[@]} > 0)); then
    echo "== installing in the background: ${missing[*]}, output in build/packages.log"
    apt_install "${missing[@]}" >build/packages.log 2>&1 &
    packages_pid=$!
  fi
}
wait_for_packages() {
  [[ -n $packages_pid ]] || return 0
  local status=0
  wait "$packages_pid" || status=$?
  packages_pid=
  if ((status != 0)); then
    cat build/packages.log
    echo "test.sh: installing the Windows packages failed" >&2
    return 1
  fi
  echo "== the Windows packages are installed"
}

# The two Windows builds, each with its end-to-end tests in a throw-away Wine
# prefix of its own: the GCC build's test kit in build/windows/kitprefix
# (scripts/kit.sh), the clang build's CTest suite in build/windows-clang/wineprefix.
# Each ends its own Wine server. Should this script stop early (a failed step, an
# interrupt), this trap ends the suites it started and the servers of those
# prefixes only.
windows_presets=(windows windows-clang)
e2e_pids=()
kit_prefix_pid=
signing_prefix_pid=
end_wine() {
  local pid prefix
  for pid in "${e2e_pids[@]}" $kit_prefix_pid $signing_prefix_pid; do
    kill "$pid" 2>/dev/null || true
  done
  for prefix in "$repo"/build/windows/kitprefix "$repo"/build/windows-clang/wineprefix \
                "$repo"/build/signed/wineprefix; do
    if [[ -e $prefix/.vdksvc-throwaway-prefix ]]; then
      bash "$repo/tests/e2e/wine_prefix.sh" cleanup "$prefix" >/dev/null 2>&1 || true
    fi
  done
}
# An install under way is let finish: a dpkg stopped midway leaves the machine
# half installed.
end_run() {
  end_wine
  if [[ -n $packages_pid ]]; then
    wait "$packages_pid" 2>/dev/null || true
  fi
}
trap end_run EXIT

timings=()
step() {
  local name=$1
  shift
  echo "== $name: $*"
  local start=$SECONDS
  "$@"
  timings+=("$(printf '%-14s %4d s' "$name" $((SECONDS - start)))")
}

build() {
  cmake --preset "$1"
  cmake --build --preset "$1"
}

sanitize() {
  build sanitize
  build/sanitize/tests/unit/vdksvc_unit --gtest_brief=1
}

# The end-to-end suites of the Windows builds run in the background while the
# steps after them run: each suite has its own Wine prefix and server, and
# spends most of its time waiting for services (one test waits out a whole
# minute). finish_e2e waits for them and shows each suite's output.
e2e_presets=()
start_e2e() {
  local preset=$1
  shift
  echo "== e2e $preset: $* started in the background, output in build/$preset/e2e.log"
  "$@" >"build/$preset/e2e.log" 2>&1 &
  e2e_pids+=($!)
  e2e_presets+=("$preset")
}
finish_e2e() {
  local i preset log failed=0
  for i in "${!e2e_pids[@]}"; do
    preset=${e2e_presets[$i]}
    log=build/$preset/e2e.log
    if wait "${e2e_pids[$i]}"; then
      echo "== e2e $preset: passed"
    else
      echo "== e2e $preset: FAILED"
      failed=1
    fi
    cat "$log"
    timings+=("$(printf '%-14s %4s s (in the background)' "e2e $preset" \
      "$(sed -n -e 's/^Total Test time (real) = *\([0-9]*\).*/\1/p' \
      -e 's/^kit.sh: passed in \([0-9]*\) s$/\1/p' "$log")")")
  done
  e2e_pids=()
  e2e_presets=()
  return "$failed"
}

# Fails unless the zip $1 holds each of the files named after it.
zip_holds() {
  local zip=$1 listing member
  shift
  listing=$(cmake -E tar tf "$zip")
  for member in "$@"; do
    if ! grep -qx "$member" <<<"$listing"; then
      echo "test.sh: $member is missing from $zip" >&2
      return 1
    fi
  done
}

# The release zip of the Windows build (the program, the manual, the README and
# the sample list file), and its test kit, whose vdksvc.exe is the release's.
check_package() {
  cmake --build --preset windows --target package test-kit
  local version release kit unpacked
  version=$(sed -n 's/^project(vdksvc VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
  release=build/windows/vdksvc-$version-win64.zip
  kit=build/windows/vdksvc-tests-$version-win64.zip
  zip_holds "$release" vdksvc.exe usage.md README.md sample-services.lst
  zip_holds "$kit" vdksvc.exe vdksvc_e2e.exe vdk_testsvc.exe vdk_run.exe run-tests.cmd
  unpacked=build/windows/package-check
  rm -rf "$unpacked" && mkdir -p "$unpacked/release" "$unpacked/kit"
  (cd "$unpacked/release" && cmake -E tar xf "$repo/$release" vdksvc.exe)
  (cd "$unpacked/kit" && cmake -E tar xf "$repo/$kit" vdksvc.exe)
  cmp "$unpacked/release/vdksvc.exe" "$unpacked/kit/vdksvc.exe"
  (cd build/windows && sha256sum -c SHA256SUMS)
}

# A second clean build of the same tree, in another folder, gives the same bytes:
# both zips and their checksums, and the clang build's program.
check_reproducible() {
  local again=build/again name
  rm -rf "$again"
  cmake --preset windows -B "$again/windows" >/dev/null
  cmake --build "$again/windows" -j 2 --target package test-kit >/dev/null
  cmake --preset windows-clang -B "$again/windows-clang" >/dev/null
  cmake --build "$again/windows-clang" -j 2 --target vdksvc >/dev/null
  for name in build/windows/vdksvc-*-win64.zip build/windows/SHA256SUMS \
              build/windows-clang/bin/vdksvc.exe; do
    cmp "$name" "$again/${name#build/}"
    echo "the same bytes: $name"
  done
}

# Makes the Wine prefix $1 afresh in the background, beside CPU-bound work:
# wineboot mostly waits. The variable named $2 gets the job's pid; the output
# goes to $1.log.
start_prefix() {
  mkdir -p "${1%/*}"
  bash tests/e2e/wine_prefix.sh setup "$1" >"$1.log" 2>&1 &
  printf -v "$2" '%s' $!
}
# Waits for start_prefix's job, whose pid the variable named $2 holds, that makes
# the prefix $1, and shows its output. The variable is emptied, so that end_wine
# never signals a pid that another process may have taken since.
prefix_ready() {
  local made=0
  wait "${!2}" || made=$?
  printf -v "$2" '%s' ''
  cat "$1.log"
  ((made == 0))
}

# Fails unless $1, a signed program whose signature was removed, is the program
# $2 as built. Authenticode puts the certificate table at an 8-byte boundary, so
# a program whose size is not a multiple of 8 gains up to 7 zero bytes before it;
# they stay when the signature is removed, and the header checksum covers them.
# Those are the only differences allowed; $3 is a folder for the work copies.
same_but_signature_padding() {
  local stripped=$1 program=$2 work=$3 size padding checksum name
  size=$(stat -c %s "$program")
  padding=$(($(stat -c %s "$stripped") - size))
  if ((padding < 0 || padding > 7)) || [[ -n $(tail -c "$padding" "$stripped" | tr -d '\0') ]]; then
    echo "test.sh: $stripped is not $program followed by the signature's padding" >&2
    return 1
  fi
  # The PE header's offset is at 0x3c; the checksum is 88 bytes into that header.
  checksum=$(($(od -An -tu4 -j 60 -N 4 "$program") + 88))
  for name in "$stripped" "$program"; do
    head -c "$size" "$name" >"$work/${name##*/}.compared"
    printf '\0\0\0\0' | dd of="$work/${name##*/}.compared" bs=1 seek="$checksum" \
      conv=notrunc status=none
  done
  cmp "$work/${stripped##*/}.compared" "$work/${program##*/}.compared"
}

# A program signed with a throw-away self-signed certificate: the signature
# verifies against that certificate, it is all that signing changed, and under
# Wine the program still shows its version resource and manifest and ends with
# -1 when given no argument (the e2e tests of the program file itself). It is
# the second GCC build of check_reproducible, configured again to sign, so that
# only the program is linked anew.
check_signing() {
  local dir=$repo/build/signed build=$repo/build/again/windows
  # Its Wine prefix was being made meanwhile.
  prefix_ready "$dir/wineprefix" signing_prefix_pid
  openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=vdksvc throw-away signer" \
    -addext extendedKeyUsage=codeSigning -keyout "$dir/key.pem" -out "$dir/cert.pem" 2>/dev/null
  head -c 24 /dev/urandom | base64 >"$dir/password"
  openssl pkcs12 -export -inkey "$dir/key.pem" -in "$dir/cert.pem" -out "$dir/signer.pfx" \
    -passout "file:$dir/password"
  cmake --preset windows -B "$build" -DVDKSVC_SIGN_PFX="$dir/signer.pfx" \
    -DVDKSVC_SIGN_PASSWORD_FILE="$dir/password" >/dev/null
  cmake --build "$build" -j 2 --target vdksvc >/dev/null
  osslsigncode verify -CAfile "$dir/cert.pem" -in "$build/bin/vdksvc.exe" | tail -n 2
  osslsigncode remove-signature -in "$build/bin/vdksvc.exe" -out "$dir/unsigned.exe" >/dev/null
  same_but_signature_padding "$dir/unsigned.exe" build/windows/bin/vdksvc.exe "$dir"
  WINEPREFIX=$dir/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    wine "$build/bin/vdksvc_e2e.exe" --gtest_brief=1 \
    --gtest_filter='ExecutableE2e.*:CommandEntryE2e.NoArgument'
  bash tests/e2e/wine_prefix.sh cleanup "$dir/wineprefix"
}

install_packages

# Cheap checks first, so that a badly formatted tree fails in seconds.
step format bash scripts/analyze.sh format
step cppcheck bash scripts/analyze.sh cppcheck
step native cmake --workflow --preset native
step memcheck bash scripts/analyze.sh memcheck
# The unit tests and the fuzz targets, from one sanitizer build. The tests run in
# one process: CTest's one process a test pays the sanitizers' start 300 times.
step sanitize sanitize
step packages wait_for_packages
# The test kit's clean machine, made beside the Windows builds.
start_prefix "$repo/build/windows/kitprefix" kit_prefix_pid
for preset in "${windows_presets[@]}"; do
  step "$preset" build "$preset"
done
step package check_package
# Reads the compile commands of the native and windows-clang builds.
step clang-tidy bash scripts/analyze.sh tidy
# The two suites side by side, each nearly as fast as alone, and beside them
# only the fuzzers, which run for a fixed time whatever processor they get.
# Started beside the builds or clang-tidy, they slowed those about as much as
# they saved.
prefix_ready "$repo/build/windows/kitprefix" kit_prefix_pid
start_e2e windows bash scripts/kit.sh --prefix-made
start_e2e windows-clang ctest --preset windows-clang
# Beside the suites, which mostly wait for services, before the fuzzers.
rm -rf build/signed
start_prefix "$repo/build/signed/wineprefix" signing_prefix_pid
step reproducible check_reproducible
step signing check_signing
step fuzz bash scripts/fuzz.sh
step e2e-wait finish_e2e

echo "== all passed"
printf '   %s\n' "${timings[@]}"
