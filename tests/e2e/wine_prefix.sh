#!/usr/bin/env bash
# The throw-away Wine prefix of one end-to-end run.
#
#   wine_prefix.sh setup PREFIX [KEEPER]
#       wipe PREFIX and create it afresh (wineboot --init). With KEEPER (vdk_run.exe)
#       also start, detached, one long sleeping Windows process that keeps the
#       prefix's Wine session (server, services.exe, ...) up between tests.
#   wine_prefix.sh cleanup PREFIX
#       end the Wine server of PREFIX, and with it every Windows process still
#       running in that prefix (the keeper, test services, leftovers).
#
# Only the server of PREFIX is ever ended; other prefixes and other users' Wine
# processes are left alone.
#
# Why a keeper: the first Windows process of a session starts Wine's system
# processes, which inherit that process's standard output. Started from a test,
# they would hold CTest's output pipe, and CTest would wait for the session to
# wind down (seconds) after every test, then pay for a fresh session in the next.
set -euo pipefail

usage="usage: wine_prefix.sh setup PREFIX [KEEPER] | cleanup PREFIX"
action=${1:?$usage}
prefix=${2:?$usage}
keeper=${3:-}
# Long enough for any e2e run; bounded so that a run that never reached its
# cleanup (interrupted CTest) does not leave the session up for good.
keeper_ms=1800000
# A marker tells a prefix we made from anything else, so that setup never wipes a
# directory it did not create.
marker=.vdksvc-throwaway-prefix

export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

find_wineserver() {
  local candidate
  for candidate in "$(command -v wineserver || true)" /usr/lib/wine/wineserver \
                   /usr/lib/wine/wineserver64 /usr/lib/x86_64-linux-gnu/wine/wineserver; do
    if [[ -n $candidate && -x $candidate ]]; then
      echo "$candidate"
      return 0
    fi
  done
  echo "wine_prefix.sh: no wineserver found" >&2
  return 1
}

end_server() {
  [[ -d $prefix ]] || return 0
  local wineserver
  wineserver=$(find_wineserver)
  # -k fails when no server runs for this prefix; that is the state we want.
  "$wineserver" -k 2>/dev/null || true
  # Give it a bounded time to be gone before anyone reuses or deletes the prefix.
  timeout 30 "$wineserver" -w 2>/dev/null || true
}

case $action in
  setup)
    if [[ -e $prefix && ! -e $prefix/$marker ]]; then
      echo "wine_prefix.sh: $prefix exists and was not made by this script; not touching it" >&2
      exit 1
    fi
    end_server
    rm -rf "$prefix"
    mkdir -p "$prefix"
    touch "$prefix/$marker"
    start=$SECONDS
    # wineboot warns about the missing 32-bit loader; that does not matter for
    # our 64-bit programs.
    timeout 300 wine wineboot --init 2>&1 | grep -v 'syswow64' || true
    test -f "$prefix/system.reg" || { echo "wine_prefix.sh: wineboot did not create $prefix" >&2; exit 1; }
    if [[ -n $keeper ]]; then
      # Let the boot's session (whose processes hold our own output) end first.
      end_server
      wine "$keeper" --sleep-ms "$keeper_ms" </dev/null >/dev/null 2>&1 &
      disown
      # Returns once the session is up; its output goes nowhere either.
      timeout 120 wine "$keeper" --exit-code 0 </dev/null >/dev/null 2>&1
    fi
    echo "Wine prefix $prefix ready after $((SECONDS - start)) s"
    ;;
  cleanup)
    end_server
    echo "Wine server of $prefix ended"
    ;;
  *)
    echo "$usage" >&2
    exit 2
    ;;
esac
