#!/usr/bin/env bash
# The main job: runs the example graphs (no outside input needed) and shows where the results are.
set -euo pipefail
build=${1:-build}
mkdir -p out
for graph in examples/*.json; do
  echo "== $graph"
  "$build/pixora" run "$graph" --frames 25
done
echo
echo "Results are in $(pwd)/out:"
ls -1 out | sed -n '1,12p'
count=$(ls -1 out | wc -l)
[[ $count -gt 12 ]] && echo "... ($count files in all)"
exit 0
