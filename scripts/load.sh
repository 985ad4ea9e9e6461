#!/usr/bin/env bash
# A load run of vdksvc.exe under Wine, against Wine's own service manager:
#
#   1. one -install, -stop, -start and -remove run over a list file of SERVICES
#      services (default 200) whose program is our test service, each timed and
#      checked: exit status 0 and every service in the expected state afterwards
#      (running, stopped, running, gone), and at the end no process of the
#      services' program left;
#   2. a product catalogue of CATALOGUE entries (default 10000) in the registry,
#      for services that do not exist, run through -start: once with a malformed
#      string after all the others (read whole, then refused: -1), once as it is
#      (exit status 0, every entry skipped, nothing created);
#   3. the command's own cost: -start over 10 services that are running at
#      once, SAMPLES times (default 5), each time after stopping them with
#      vdk_run.exe; a wait ends as soon as its service runs, so no sleep is
#      mandated.
#      The same for a refused run (-bogus), Wine's own floor for a process.
#
#   scripts/load.sh [SERVICES [CATALOGUE [SAMPLES]]]
#
# Times are those vdk_run.exe measures inside Windows, from creating the
# vdksvc.exe process to its end. Install runs before start, and install starts
# each service already; stop therefore comes before start, so that start has
# work to do, and remove meets running services (stop, wait, delete).
#
# Every wait is bounded. Each run gets -t 5: a service of ours leaves its
# pending state within a second, so the limit never cuts a normal wait, but a
# service that hangs in a pending state costs at most five seconds instead of
# stalling the whole run; and vdk_run.exe ends a run that outlives a deadline
# made from the number of services. Exit status 0 when every check passed.
#
# Wine's service manager spends 0.2 to 0.5 s on each start, and each of the 10,000 catalogue entries costs about 20 ms
# of its manager and service opens. It is not part of scripts/test.sh.
set -euo pipefail

# The whole script is one function, read before it runs: editing the file while
# a run is under way does not change that run.
main() {
services=${1:-200}
catalogue=${2:-10000}
samples=${3:-5}
[[ $services =~ ^[1-9][0-9]*$ && $catalogue =~ ^[1-9][0-9]*$ && $samples =~ ^[1-9][0-9]*$ ]] ||
  { echo "usage: scripts/load.sh [SERVICES [CATALOGUE [SAMPLES]]]" >&2; exit 2; }

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

# shellcheck source=scripts/wine_services.sh
source "$repo/scripts/wine_services.sh"
build_helpers vdksvc vdk_run vdk_testsvc
make_prefix "$repo/build/windows/loadprefix"
# Its life limit outlasts the whole run.
copy_service_program vdk_loadsvc.exe
binary="\"$work_win\\$image\" --max-life-ms 3600000"

# SERVICES list lines for the load, 10 for the overhead, CATALOGUE strings.
for i in $(seq -w 1 "$services"); do
  printf '%s,vdkload%s,Vardeck load %s\r\n' "$binary" "$i" "$i"
done >"$work/load.txt"
for i in $(seq -w 1 10); do
  printf '%s,vdkcost%s,Vardeck cost %s\r\n' "$binary" "$i" "$i"
done >"$work/cost.txt"
for i in $(seq -w 1 "$catalogue"); do
  printf 'bin\\ghost%s.exe,vdkghost%s,Vardeck ghost %s\r\n' "$i" "$i" "$i"
done >"$work/catalogue.txt"

# The sum of the per-service call times that vdk_run.exe --call-cost prints.
call_sum() { grep -oE '[A-Za-z]+ [0-9]+\.[0-9]+' <<<"$1" | awk '{ s += $2 } END { printf "%.1f", s }'; }
# Milliseconds per entry beyond SLEEPS seconds of mandated sleeping in TOOK seconds.
beyond() { awk -v t="$1" -v s="$2" -v n="$3" 'BEGIN { printf "%.1f", (t - s) * 1000 / n }'; }

rows=()
# A row of the table from: run, exit status, wall s, mandated sleeps in s,
# entries, the service manager's share in ms per entry.
row() {
  rows+=("$(printf '| %-36s | %4s | %8s | %6s | %8s | %7s |' "$1" "$2" "$3" "$4" \
    "$(beyond "$3" "$4" "$5")" "$6")")
  echo "  ${rows[-1]}"
}

echo
echo "== load: $services services"
# About 6 s a service, far above the 1 to 2 s that one takes, and above the 5
# seconds -t allows a stuck one.
deadline=$((services * 6 + 60))
for step in install:RUNNING stop:STOPPED start:RUNNING remove:GONE; do
  cmd=${step%%:*} state=${step#*:}
  echo "  -$cmd ..."
  run_vdksvc 0 "$deadline" "-$cmd" -t 5 -f "$work_win\\load.txt"
  expect_tally load.txt "$state $services"
  row "-$cmd, $services services" 0 "$took" 0 "$services" ""
done
expect_no_process

echo
echo "== catalogue: $catalogue entries for services that do not exist"
write_catalogue() {
  runner 120 --write-catalogue 'C:\Corvane\Vardeck' "$work_win\\$1" >/dev/null ||
    fail "could not write the catalogue $1"
}
# First with one malformed string after all the others: the command reads and
# splits the whole catalogue, then refuses it before touching a service.
{ cat "$work/catalogue.txt"; printf 'no commas here\r\n'; } >"$work/malformed.txt"
write_catalogue malformed.txt
run_vdksvc 4294967295 120 -start -t 5
row "-start, $catalogue + 1 malformed" -1 "$took" 0 "$catalogue" ""
# Then whole: each entry's service fails to open and is skipped. The service
# manager's share: the same opens and closes made by vdk_run.exe, for 500 entries.
write_catalogue catalogue.txt
run_vdksvc 0 $((catalogue * 60 / 1000 + 60)) -start -t 5
catalogue_took=$took
head -n 500 "$work/catalogue.txt" >"$work/catalogue500.txt"
ghost_cost=$(runner 300 --call-cost "$work_win\\catalogue500.txt" || true)
row "-start, catalogue of $catalogue" 0 "$catalogue_took" 0 "$catalogue" "$(call_sum "$ghost_cost")"
expect_tally catalogue.txt "GONE $catalogue"

echo
echo "== cost: -start over 10 services that run at once, $samples samples"
run_vdksvc 0 120 -install -t 5 -f "$work_win\\cost.txt"
expect_tally cost.txt "RUNNING 10"
starts=() refusals=() shares=() share_lines=()
for ((sample = 0; sample < samples; ++sample)); do
  runner 120 --stop-all "$work_win\\cost.txt" >/dev/null || fail "the cost services did not stop"
  run_vdksvc 0 60 -start -t 5 -f "$work_win\\cost.txt"
  starts+=("$took")
  expect_tally cost.txt "RUNNING 10"
  run_vdksvc 4294967295 30 -bogus
  refusals+=("$took")
  # The same calls again, made by vdk_run.exe.
  runner 120 --stop-all "$work_win\\cost.txt" >/dev/null || fail "the cost services did not stop"
  share_lines+=("$(runner 120 --call-cost "$work_win\\cost.txt" || true)")
  shares+=("$(call_sum "${share_lines[-1]}")")
done
row "-start, 10 running at once (median)" 0 "$(median "${starts[@]}")" 0 10 "$(median "${shares[@]}")"
row "-bogus (median)" -1 "$(median "${refusals[@]}")" 0 1 ""
run_vdksvc 0 120 -remove -t 5 -f "$work_win\\cost.txt"
expect_tally cost.txt "GONE 10"
expect_no_process

echo
echo "== timings: wall seconds inside Windows, from creating the vdksvc.exe process to its end"
printf '| %-36s | %4s | %8s | %6s | %8s | %7s |\n' run exit "wall s" sleeps beyond manager
printf '|%s|%s|%s|%s|%s|%s|\n' "$(printf -- '-%.0s' {1..38})" ------ ---------- -------- \
  ---------- ---------
printf '%s\n' "${rows[@]}"
cat <<TEXT
  sleeps:  seconds the command must sleep (none: each wait ends when its service gets there)
  beyond:  wall time beyond those sleeps, in ms per entry
  manager: the service manager's share, in ms per entry: the same calls made by
           vdk_run.exe --call-cost without sleeps (for the 10 starts, a median)
  samples: -start ${starts[*]} s; -bogus ${refusals[*]} s
  catalogue, first 500 entries: $ghost_cost
  10 starts, last sample: ${share_lines[-1]}
TEXT

if ((failures > 0)); then
  echo "== $failures check(s) FAILED"
  exit 1
fi
echo "== every check passed"
}

main "$@"
