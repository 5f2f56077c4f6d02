#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded time.
#   run-fuzzer.sh BINARY CORPUS_DIR SCRATCH_DIR SECONDS
# The committed corpus is read only: the fuzzer writes what it finds into a
# fresh scratch folder, listed first because libFuzzer writes into its first
# corpus folder. A crash leaves its reproducer in the scratch folder.
set -euo pipefail
binary=$1 corpus=$2 scratch=$3 seconds=$4

rm -rf "$scratch"
mkdir -p "$scratch/new" "$scratch/artifacts"
exec "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$scratch/artifacts/" "$scratch/new" "$corpus"
