#!/usr/bin/env bash
# How long the commands wait, under Wine: ten test services that leave their
# pending states at once, run through a baseline vdksvc.exe and a candidate side
# by side, SAMPLES times each, in one throw-away Wine prefix.
#
#   bench/waits.sh BASELINE [CANDIDATE [SAMPLES]]
#
# BASELINE and CANDIDATE are each a vdksvc.exe, or a git revision that is built
# (windows preset, vdksvc only) in build/bench/<commit>/. CANDIDATE defaults to
# this tree's windows build, SAMPLES to 5. The test service and vdk_run.exe come
# from this tree, for both.
#
# Each sample runs, through the baseline and then through the candidate:
# -install, -stop, -start, -pause, -continue, -stopex (nothing left for its
# sweep), -startup of one service, and -remove of the stopped services; each run
# is checked (exit status 0, every service in the state it should be in after).
# It prints, per command, medians over the samples of:
#   wall      ms from creating the vdksvc.exe process to its end, inside Windows
#   ratio     the candidate's wall time over the baseline's
#   lag       ms from the last service's own report of the state it was asked
#             for (its log's time of that SetServiceStatus) to the command's end
#   overhead  ms per entry beyond the services' own pending time: the wall time
#             less, for each service, the time from its receiving the request
#             (the control, or ServiceMain for a start) to that report; for
#             -install and -start it holds Wine's launch of the service's program
# and the targets the candidate should meet. The test service's log and
# vdk_run.exe --clock read one clock, QueryPerformanceCounter.
#
# A benchmark, not a test: the exit status is 1 only when a check fails, never
# for a time. Five samples take about 15 minutes against today's one-second
# polls, most of it the baseline's sleeps.
set -euo pipefail

# The whole script is one function, read before it runs: editing the file while
# a run is under way does not change that run.
main() {
(($# >= 1 && $# <= 3)) || { echo "usage: bench/waits.sh BASELINE [CANDIDATE [SAMPLES]]" >&2; exit 2; }
samples=${3:-5}
[[ $samples =~ ^[1-9][0-9]*$ ]] || { echo "bench/waits.sh: SAMPLES must be a number" >&2; exit 2; }

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
# shellcheck source=scripts/wine_services.sh
source "$repo/scripts/wine_services.sh"
build_helpers vdksvc vdk_run vdk_testsvc
baseline=$(program_of "$1")
candidate=$(program_of "${2:-$bin/vdksvc.exe}")
echo "  baseline:  $baseline"
echo "  candidate: $candidate"

make_prefix "$repo/build/windows/benchprefix"
copy_service_program vdk_benchsvc.exe
mkdir -p "$work/logs"
services=() logs=()
for i in $(seq -w 1 10); do
  services+=("vdkbench$i")
  logs+=("$work/logs/vdkbench$i.log")
  printf '"%s\\%s" --max-life-ms 3600000 --log %s\\logs\\vdkbench%s.log,vdkbench%s,Vardeck bench %s\r\n' \
    "$work_win" "$image" "$work_win" "$i" "$i" "$i"
done >"$work/bench.txt"
list="$work_win\\bench.txt"

declare -A walls lags overheads
for ((sample = 1; sample <= samples; ++sample)); do
  for build in baseline candidate; do
    echo "== sample $sample of $samples: $build"
    vdksvc=${!build}
    rm -f "$work"/logs/*.log
    # command, state after, the line of the request in each service's log, the
    # line of the report that ends its pending state
    step install RUNNING "main " running
    step stop STOPPED "control 1" stopped
    step start RUNNING "main " running
    step pause PAUSED "control 2" paused
    step continue RUNNING "control 3" running
    step stopex STOPPED "control 1" stopped
    expect_no_process
    run_vdksvc 0 60 -startup -demand "${services[0]}" "Vardeck bench 01"
    record startup
    step remove GONE
  done
done

echo
echo "== medians of $samples samples, in ms (wall inside Windows; lag and overhead from the services' logs)"
printf '| %-9s | %13s | %14s | %5s | %12s | %13s | %17s | %18s | %-42s |\n' command "baseline wall" \
  "candidate wall" ratio "baseline lag" "candidate lag" "baseline overhead" "candidate overhead" \
  "target (candidate)"
printf '|%s|%s|%s|%s|%s|%s|%s|%s|%s|\n' -----------  --------------- ---------------- ------- \
  -------------- --------------- ------------------- -------------------- --------------------------------------------
for cmd in install stop start pause continue stopex startup remove; do
  local bw cw
  bw=$(median_of "${walls[baseline $cmd]}") cw=$(median_of "${walls[candidate $cmd]}")
  printf '| %-9s | %13s | %14s | %5s | %12s | %13s | %17s | %18s | %-42s |\n' "-$cmd" "$bw" "$cw" \
    "$(awk -v b="$bw" -v c="$cw" 'BEGIN { printf "%.3f", c / b }')" \
    "$(median_of "${lags[baseline $cmd]:-}")" "$(median_of "${lags[candidate $cmd]:-}")" \
    "$(median_of "${overheads[baseline $cmd]:-}")" "$(median_of "${overheads[candidate $cmd]:-}")" \
    "$(verdict "$cmd" "$cw" "$(median_of "${overheads[candidate $cmd]:-}")")"
done
echo "  every sample's wall time, in ms:"
for cmd in install stop start pause continue stopex startup remove; do
  printf '    %-9s baseline %s; candidate %s\n' "-$cmd" "${walls[baseline $cmd]% }" "${walls[candidate $cmd]% }"
done

if ((failures > 0)); then
  echo "== $failures check(s) FAILED"
  exit 1
fi
echo "== every check passed"
}

# The vdksvc.exe that WHICH names: a program file, or a git revision built once
# in build/bench/<commit>/.
program_of() {
  local which=$1 commit dir
  if [[ -f $which ]]; then
    realpath "$which"
    return
  fi
  commit=$(git -C "$repo" rev-parse --verify --quiet "$which^{commit}") ||
    { echo "bench/waits.sh: $which is neither a file nor a revision" >&2; exit 2; }
  dir=$repo/build/bench/$commit
  if [[ ! -f $dir/build/windows/bin/vdksvc.exe ]]; then
    echo "== building vdksvc.exe of $which (${commit:0:12}) in $dir" >&2
    rm -rf "$dir"
    mkdir -p "$dir"
    git -C "$repo" archive "$commit" | tar -x -C "$dir"
    (cd "$dir" && cmake --preset windows >/dev/null && cmake --build --preset windows --target vdksvc >/dev/null)
  fi
  echo "$dir/build/windows/bin/vdksvc.exe"
}

# Runs -COMMAND over the list and checks that every service is in STATE after;
# for a state change (REQUEST and REPORT given), also reads the services' logs.
step() {
  local cmd=$1 state=$2 request=${3:-} reported=${4:-}
  run_vdksvc 0 120 "-$cmd" -f "$list"
  record "$cmd"
  expect_tally bench.txt "$state 10"
  [[ -n $request ]] || return 0
  local times
  times=$(timeline "$request" "$reported")
  if [[ $times == incomplete ]]; then
    fail "-$cmd: a service's log lacks '$request' or '$reported' during the run"
    return
  fi
  lags[$build $cmd]+="${times% *} "
  overheads[$build $cmd]+="${times#* } "
}

record() { walls[$build $1]+="$(awk -v c="$created" -v e="$ended" 'BEGIN { printf "%.1f", e - c }') "; }

# "LAG OVERHEAD" of the last run from the services' logs: the first REQUEST line
# and the last REPORT line of each service between `created` and `ended`.
timeline() {
  awk -v from="$created" -v to="$ended" -v request="$1" -v reported="$2" '
    { sub(/\r$/, ""); at = $1 + 0; text = substr($0, index($0, " ") + 1) }
    at < from || at > to { next }
    index(text, request) == 1 && !(FILENAME in asked) { asked[FILENAME] = at }
    text == reported { reached[FILENAME] = at }
    END {
      last = from
      for (i = 1; i < ARGC; ++i) {
        name = ARGV[i]
        if (!(name in asked) || !(name in reached)) { print "incomplete"; exit }
        pending += reached[name] - asked[name]
        if (reached[name] > last) last = reached[name]
      }
      printf "%.1f %.1f\n", to - last, (to - from - pending) / (ARGC - 1)
    }' "${logs[@]}"
}

# The median of the numbers in the string VALUES; "-" when it holds none.
median_of() {
  local values
  read -ra values <<<"$1"
  if ((${#values[@]} > 0)); then median "${values[@]}"; else echo "-"; fi
}

# Whether the candidate's WALL time and OVERHEAD per entry meet COMMAND's targets.
verdict() {
  local cmd=$1 wall=$2 overhead=$3 limit
  case $cmd in
    stop | pause | continue | stopex) limit=1000 ;;
    install | start) limit=2000 ;;
    startup) limit=500 ;;
    *) echo "-"; return ;;
  esac
  awk -v w="$wall" -v o="$overhead" -v l="$limit" 'BEGIN {
    text = "wall < " l ": " (w < l ? "met" : "MISSED")
    if (o != "-") text = text ", <= 50/entry: " (o <= 50 ? "met" : "MISSED")
    print text }'
}

main "$@"
