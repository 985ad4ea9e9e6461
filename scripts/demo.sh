#!/usr/bin/env bash
# Shows vdksvc.exe at work under Wine. The command prints nothing unless asked
# (-query, -v, /?), so the demo runs it through vdk_run.exe, which reports the
# exit status as Windows sees it (all 32 bits) and how many bytes the command
# wrote.
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
echo "  operands that are not options, or a time limit of 0:"
show -stop hubkeep
show -start -t 0 -c 'C:\x.exe' hubkeep "Vardeck Hub"
echo "  the startup command with no accepted triple has nothing to do:"
show -startup
show -startup disabled hubkeep "Vardeck Hub"

echo
echo "== the main job: the whole life of a sample product's services"
# The product's programs: copies of our test service under C:\Corvane\Vardeck\bin.
home_win='C:\Corvane\Vardeck'
mkdir -p "$prefix/drive_c/Corvane/Vardeck/bin" "$prefix/drive_c/SQL"
for program in hub loom netboot; do
  cp "$bin/vdk_testsvc.exe" "$prefix/drive_c/Corvane/Vardeck/bin/$program.exe"
done
cp "$bin/vdk_testsvc.exe" "$prefix/drive_c/SQL/sqlservr.exe"
services=(MSSQL\$VDKDBI hubkeep loomtide NetBootCast)
states() { wine "$bin/vdk_run.exe" --state "${services[@]}"; }

regadd /v HomeDir /t REG_SZ /d "$home_win"
regadd /v ServicesList /t REG_MULTI_SZ \
  /d 'bin\hub.exe,hubkeep,Vardeck Hub\0bin\loom.exe,loomtide,Vardeck Loom\0bin\netboot.exe,NetBootCast,Vardeck Net Boot'
regadd /v NoUseVDKTFTP /t REG_DWORD /d 1
regadd /v DBSrvRemoteFlag /t REG_DWORD /d 0
echo "  catalogue in HKLM\\SOFTWARE\\Corvane\\Vardeck:"
wine reg.exe query "$key" 2>/dev/null | tr -d '\r' | grep -E 'REG_' | sed 's/^ */    /'
echo "  (NoUseVDKTFTP=1 keeps NetBootCast disabled; DBSrvRemoteFlag=0 and no DBInstanceName"
echo "   make hubkeep and loomtide depend on MSSQL\$VDKDBI when that service exists)"
echo
echo "  a stand-in database service, installed with -c (one explicit service):"
show -install -c 'C:\SQL\sqlservr.exe' 'MSSQL$VDKDBI' "SQL Server (VDKDBI)"
states
echo
echo "  install the catalogue (create, start, wait until running):"
show -install
states
echo "  what an administrator at a prompt sees with -query, which changes nothing:"
wine "$bin/vdksvc.exe" -query | tr -d '\r' | sed 's/^/    /'
echo "  asking how -stop works (vdksvc -stop /?) stops nothing; the usage text begins:"
{ wine "$bin/vdksvc.exe" -stop /? || true; } | tr -d '\r' | sed -n 's/^/    /; 1,4p'
states
echo
echo "  pause and continue (NetBootCast is not running and refuses; the others follow):"
show -pause
states
show -continue
states
echo
echo "  start types and display names (the last triple is the one applied):"
show -startup -demand hubkeep "Vardeck Hub (manual)"
show -startup -auto NetBootCast "Vardeck Net Boot"
states
echo
echo "  start (NetBootCast may start now), then stop with at most 5 s each:"
show -start
states
show -stop -t 5
states
echo
echo "  start again, and leave a stray worker of loom.exe running, as a crashed service would:"
show -start
wine 'C:\Corvane\Vardeck\bin\loom.exe' --worker --max-life-ms 600000 </dev/null >/dev/null 2>&1 &
sleep 2
wine "$bin/vdk_run.exe" --processes hub.exe loom.exe netboot.exe
echo "  the extended stop: stop every service, then give the processes still running one"
echo "  of the catalogue's program files 60 s to end, and terminate those that do not"
echo "  (with the step log on: VDKSVC_LOG=C:\\vdksvc-demo.log):"
export VDKSVC_LOG='C:\vdksvc-demo.log'
show -stopex
unset VDKSVC_LOG
states
wine "$bin/vdk_run.exe" --processes hub.exe loom.exe netboot.exe
echo "  what the step log of that run says:"
tr -d '\r' <"$prefix/drive_c/vdksvc-demo.log" | sed 's/^/    /'
echo
echo "  remove the catalogue, then the stand-in database service:"
show -remove
show -remove -c x 'MSSQL$VDKDBI' x
states

echo
echo "== done; ending the demo prefix's Wine server"
