# shellcheck shell=bash disable=SC2034,SC2154
# (The variables named below are shared with the caller by design.)
#
# Sourced by scripts/load.sh and bench/waits.sh: runs of vdksvc.exe under Wine,
# against Wine's own service manager and services whose program is our test
# service, timed and checked through vdk_run.exe.
#
# The caller sets `repo` (the repository root) and calls, in order:
#   build_helpers TARGET...      the windows preset's build of these targets; sets `bin`
#   make_prefix DIR              a throw-away Wine prefix, ended and removed on exit
#   copy_service_program IMAGE   the test service as C:\vdkload\IMAGE; sets `image`,
#                                `work` (that folder seen from Linux), `work_win`
# and then uses the functions below. `vdksvc` names the vdksvc.exe that
# run_vdksvc runs (default: the one in `bin`); `failures` counts what failed.

build_helpers() {
  echo "== building $* (windows preset)"
  cmake --preset windows >/dev/null
  cmake --build --preset windows --target "$@" >/dev/null
  bin=$repo/build/windows/bin
}

make_prefix() {
  prefix=$1
  trap cleanup_prefix EXIT
  echo "== making a throw-away Wine prefix"
  bash "$repo/tests/e2e/wine_prefix.sh" setup "$prefix" "$bin/vdk_run.exe"
  export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
}

cleanup_prefix() {
  bash "$repo/tests/e2e/wine_prefix.sh" cleanup "$prefix" >/dev/null 2>&1 || true
  if [[ -e $prefix/.vdksvc-throwaway-prefix ]]; then rm -rf "$prefix"; fi
}

# The services' program: the test service under a name of its own, so that the
# process list tells its processes apart.
copy_service_program() {
  image=$1
  work=$prefix/drive_c/vdkload
  work_win='C:\vdkload'
  mkdir -p "$work"
  cp "$bin/vdk_testsvc.exe" "$work/$image"
}

failures=0
fail() {
  echo "  FAILED: $*"
  failures=$((failures + 1))
}

runner() { timeout "$1" wine "$bin/vdk_run.exe" "${@:2}" </dev/null 2>/dev/null | tr -d '\r'; }

# Runs vdksvc.exe ARGS... under a deadline of DEADLINE seconds and checks that it
# ends with the exit status EXPECTED (all 32 bits); sets `took` (seconds) and
# `created` and `ended` (milliseconds of the clock of the test service's log).
run_vdksvc() {
  local expected=$1 deadline=$2 report status=none
  shift 2
  report=$(runner $((deadline + 60)) --timeout-ms $((deadline * 1000)) --clock \
    "${vdksvc:-$bin/vdksvc.exe}" "$@" || true)
  took=0 created=0 ended=0
  if [[ $report =~ ^exit\ status\ ([0-9]+).*,\ ([0-9.]+)\ s,.*created\ at\ ([0-9.]+)\ ms,\ ended\ at\ ([0-9.]+)\ ms ]]; then
    status=${BASH_REMATCH[1]} took=${BASH_REMATCH[2]} created=${BASH_REMATCH[3]} ended=${BASH_REMATCH[4]}
  fi
  if [[ $report == *KILLED* || $status == none ]]; then
    fail "vdksvc.exe $* did not end within ${deadline} s: $report"
  elif [[ $status != "$expected" ]]; then
    fail "vdksvc.exe $* gave exit status $status, not $expected"
  fi
}

# Waits (at most 180 s) until the services of LIST tally EXPECTED ("STATE COUNT").
expect_tally() {
  local list=$1 expected=$2 tally="" end=$((SECONDS + 180))
  while ((SECONDS < end)); do
    tally=$(runner 300 --tally "$work_win\\$list" || true)
    [[ $(cut -d' ' -f1,2 <<<"$tally") == "$expected" ]] && return 0
    sleep 1
  done
  fail "services of $list: expected '$expected', found '${tally//$'\n'/, }'"
}

# Waits (at most 60 s) until no process of the services' program runs.
expect_no_process() {
  local listed="" end=$((SECONDS + 60))
  while ((SECONDS < end)); do
    listed=$(runner 120 --processes "$image" || true)
    [[ $listed == *"no process of these program files runs"* ]] && return 0
    sleep 1
  done
  fail "processes of $image left: ${listed//$'\n'/, }"
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
