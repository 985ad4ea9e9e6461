#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz": the sanitize build, which holds
# them beside the unit tests) and runs each for a short, bounded time from the
# seeds in fuzz/corpus/<target>/, two at a time, one to a core. Fails when a
# fuzzer finds a crash, a leak or a broken property; the input is kept under
# build/sanitize/artifacts/.
#
# VDKSVC_FUZZ_SECONDS sets the time per target (default 15). Inputs may reach
# 64 KiB, so that whole list files and catalogues occur.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

seconds="${VDKSVC_FUZZ_SECONDS:-15}"
targets=(fuzz_line_fields fuzz_catalogue fuzz_command)
build=build/sanitize

cmake --workflow --preset fuzz

# New inputs go to a scratch corpus, so the seeds in the tree stay as written.
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

# Runs one target; its output goes to $scratch/<target>.log, its exit status
# to $scratch/<target>.status.
fuzz() {
  local target=$1 binary=$build/fuzz/$1 artifacts=$build/artifacts/$1/ status=0
  mkdir -p "$scratch/$target" "$artifacts"
  "$binary" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
    -max_len=65536 -print_final_stats=1 -artifact_prefix="$artifacts" \
    "$scratch/$target" "fuzz/corpus/$target" >"$scratch/$target.log" 2>&1 || status=$?
  echo "$status" >"$scratch/$target.status"
}

# Two at a time: a fuzzer keeps one core busy, and the machine has two.
running=()
for target in "${targets[@]}"; do
  if ((${#running[@]} == 2)); then
    wait "${running[0]}"
    running=("${running[@]:1}")
  fi
  echo "== $target: ${seconds}s"
  fuzz "$target" &
  running+=($!)
done
wait

failed=0
for target in "${targets[@]}"; do
  echo "== $target"
  cat "$scratch/$target.log"
  if [[ $(cat "$scratch/$target.status") != 0 ]]; then
    echo "fuzz.sh: $target failed; reproduce with: $build/fuzz/$target $build/artifacts/$target/<file>" >&2
    failed=1
  fi
done
((failed == 0))
echo "fuzz.sh: all fuzzers ran ${seconds}s without a finding"
