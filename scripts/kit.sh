#!/usr/bin/env bash
# Runs the test kit the way someone on a Windows server would, under Wine: unzips
# it into a fresh throw-away prefix and runs run-tests.cmd, which must exit 0 with
# an XML report counting more than zero tests and not one failure. Then the
# machine must be as clean as before, and with the product's registry key added,
# run-tests.cmd must refuse: no test run, no report.
#
#   scripts/kit.sh [--prefix-made] [ZIP]
#       ZIP: default build/windows/vdksvc-tests-<version>-win64.zip
#       --prefix-made: the caller has just made the prefix afresh
#       (tests/e2e/wine_prefix.sh setup) and nothing has run in it since;
#       test.sh makes it beside its builds, where its start mostly waits.
#
# The prefix is build/windows/kitprefix; only its own Wine server is ended.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
prefix_made=0
if [[ ${1:-} == --prefix-made ]]; then
  prefix_made=1
  shift
fi
zips=("$repo"/build/windows/vdksvc-tests-*-win64.zip)
zip=$(realpath "${1:-${zips[0]}}")
prefix=$repo/build/windows/kitprefix
prefix_script=$repo/tests/e2e/wine_prefix.sh
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

fail() {
  echo "kit.sh: $*" >&2
  exit 1
}

trap 'bash "$prefix_script" cleanup "$prefix" >/dev/null 2>&1 || true' EXIT
((prefix_made)) || bash "$prefix_script" setup "$prefix"
kit=$prefix/drive_c/vdksvc-tests
mkdir -p "$kit"
cd "$kit"
cmake -E tar xf "$zip"
report=vdksvc-e2e-report.xml
product='HKLM\SOFTWARE\Corvane\Vardeck'

echo "== the kit on a clean machine"
wine cmd /c run-tests.cmd || fail "run-tests.cmd failed with status $?"
read -r tests failures errors < <(sed -n \
  's/.*<testsuites tests="\([0-9]*\)" failures="\([0-9]*\)" disabled="[0-9]*" errors="\([0-9]*\)".*/\1 \2 \3/p' \
  "$report")
echo "kit.sh: $report: ${tests:-no} tests, ${failures:-?} failures, ${errors:-?} errors"
((${tests:-0} > 0 && failures == 0 && errors == 0)) || fail "the report is not a clean pass"

echo "== nothing is left behind: the machine passes the kit's check as before"
check=$(wine vdksvc_e2e.exe --kit-check 2>/dev/null) || fail "after the run: $check"
[[ -z $check ]] || fail "after the run: $check"
wine reg delete 'HKLM\SOFTWARE\vdksvc-test-kit' /f >/dev/null 2>&1
for view in 64 32; do
  if wine reg query 'HKLM\SOFTWARE\Corvane' /reg:$view >/dev/null 2>&1; then
    fail "HKLM\SOFTWARE\Corvane is left in the $view-bit view"
  fi
done

echo "== the kit where the product is installed: it must refuse"
rm "$report"
wine reg add "$product" /v HomeDir /d 'C:\Vardeck' /f >/dev/null 2>&1
if refusal=$(wine cmd /c run-tests.cmd 2>&1); then
  fail "run-tests.cmd ran where $product exists"
fi
echo "$refusal"
grep -qF "$product" <<<"$refusal" || fail "the refusal does not name $product"
[[ ! -e $report ]] || fail "run-tests.cmd refused, yet wrote $report"
echo "kit.sh: passed in $SECONDS s"
