#!/usr/bin/env bash
# Shows vdksvc.exe at work under Wine. The command prints nothing, so the demo
# runs it through vdk_run.exe, which reports the exit status as Windows sees it
# (all 32 bits) and how many bytes the command wrote.
#
# Builds with the `windows` preset, uses a throw-away Wine prefix under /tmp,
# and ends that prefix's Wine server (and only that one) when done.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

echo "== building vdksvc.exe (windows preset)"
cmake --preset windows >/dev/null
cmake --build --preset windows --target vdksvc vdk_run vdk_testsvc
bin=$repo/build/windows/bin

workdir=$(mktemp -d /tmp/vdksvc-demo.XXXXXX)
prefix=$workdir/wineprefix
cleanup() {
  bash "$repo/tests/e2e/wine_prefix.sh" cleanup "$prefix" >/dev/null 2>&1 || true
  rm -rf "$workdir"
}
trap cleanup EXIT

echo "== making a throw-away Wine prefix (takes about 20 s)"
bash "$repo/tests/e2e/wine_prefix.sh" setup "$prefix" "$bin/vdk_run.exe"
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# Runs vdksvc.exe with the given arguments and prints the status read in Wine.
show() {
  local shown=""
  if (($# == 0)); then
    shown="(no argument)"
  else
    local argument
    for argument in "$@"; do shown+="'$argument' "; done
  fi
  printf '  vdksvc.exe %-28s -> ' "$shown"
  wine "$bin/vdk_run.exe" --timeout-ms 120000 "$bin/vdksvc.exe" "$@"
}

echo
echo "== command lines that name no command: exit status 4294967295 (-1), silent"
show
show ""
show -stopx
show -st
show stop
show "-stop now"
show -x

echo
echo "== command keywords: recognised, but this build has no service operations yet, so a"
echo "   command with services to act on is refused (-1) rather than reported as done"
show -stop
show /Stop
show "x -remove"
show -startup

echo
echo "== the same refusal seen from the Linux side: Wine hands the shell only 8 bits"
set +e
wine "$bin/vdksvc.exe"
echo "  \$? = $?"
set -e

echo
echo "== where the service list comes from: options, list files, the registry catalogue"
key='HKLM\SOFTWARE\Corvane\Vardeck'
regadd() { wine reg.exe add "$key" "$@" /f >/dev/null 2>&1; }
echo "  no catalogue in the registry yet:"
show -stop
regadd /v HomeDir /t REG_SZ /d 'C:\Corvane\Vardeck'
regadd /v ServicesList /t REG_MULTI_SZ /d 'bin\hub.exe,hubkeep,Vardeck Hub\0bin\loom.exe,loomtide'
echo "  a catalogue whose second string lacks its display name:"
show -stop
printf '# bin\\hub.exe,hubkeep,commented out\r\nonly,two fields\r\n' >"$workdir/list.txt"
listfile=$(wine winepath -w "$workdir/list.txt" 2>/dev/null | tr -d '\r')
echo "  a list file without a valid line ($listfile):"
show -stop -f "$listfile"
echo "  operands that are not options, or a poll limit of 0:"
show -stop hubkeep
show -start -t 0 -c 'C:\x.exe' hubkeep "Vardeck Hub"
echo "  the startup command with no accepted triple has nothing to do:"
show -startup
show -startup disabled hubkeep "Vardeck Hub"

echo
echo "== the test service the end-to-end tests drive, as Wine's service manager sees it"
wine "$bin/vdk_run.exe" --state VdkDemoService
wine sc.exe create VdkDemoService binPath= "$(wine winepath -w "$bin/vdk_testsvc.exe" 2>/dev/null)" >/dev/null 2>&1 || true
wine "$bin/vdk_run.exe" --state VdkDemoService
wine sc.exe start VdkDemoService >/dev/null 2>&1 || true
sleep 1
wine "$bin/vdk_run.exe" --state VdkDemoService
wine sc.exe stop VdkDemoService >/dev/null 2>&1 || true
sleep 1
wine "$bin/vdk_run.exe" --state VdkDemoService

echo
echo "== done; ending the demo prefix's Wine server"
