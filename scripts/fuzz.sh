#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz") and runs each for a short, bounded
# time from the seeds in fuzz/corpus/<target>/. Fails when a fuzzer finds a crash,
# a leak or a broken property; the input is kept under build/fuzz/artifacts/.
#
# VDKSVC_FUZZ_SECONDS sets the time per target (default 15). Inputs may reach
# 64 KiB, so that whole list files and catalogues occur.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

seconds="${VDKSVC_FUZZ_SECONDS:-15}"
targets=(fuzz_line_fields fuzz_catalogue fuzz_command)

cmake --workflow --preset fuzz

# New inputs go to a scratch corpus, so the seeds in the tree stay as written.
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

for target in "${targets[@]}"; do
  binary="build/fuzz/fuzz/$target"
  artifacts="build/fuzz/artifacts/$target/"
  mkdir -p "$scratch/$target" "$artifacts"
  echo "== $target: ${seconds}s"
  if ! "$binary" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
      -max_len=65536 -print_final_stats=1 -artifact_prefix="$artifacts" \
      "$scratch/$target" "fuzz/corpus/$target"; then
    echo "fuzz.sh: $target failed; reproduce with: $binary $artifacts<file>" >&2
    exit 1
  fi
done
echo "fuzz.sh: all fuzzers ran ${seconds}s without a finding"
