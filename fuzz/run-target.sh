#!/bin/sh
# Runs one fuzz target for SECONDS on a fresh copy of its seed corpus in WORKDIR, so the
# seeds in the repository are never changed; crash inputs land in WORKDIR too.
# Usage: run-target.sh TARGET SEEDS DICT WORKDIR SECONDS
set -eu
target=$1 seeds=$2 dict=$3 work=$4 seconds=$5
rm -rf "$work"
mkdir -p "$work/corpus"
cp "$seeds"/* "$work/corpus/"
exec "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -print_final_stats=1 \
  -artifact_prefix="$work/" -dict="$dict" "$work/corpus"
