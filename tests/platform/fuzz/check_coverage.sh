#!/bin/sh
# Runs a libFuzzer program once over its corpus and fails when the code it
# reaches falls below a floor. A reader built without the fuzzer's
# instrumentation leaves the fuzzer seeing little more than the harness, a
# small part of what it sees otherwise; this notices that.
#
#   check_coverage.sh FUZZER CORPUS FLOOR
set -eu
fuzzer=$1 corpus=$2 floor=$3
out=$("$fuzzer" -runs=0 "$corpus" 2>&1) || { echo "$out"; echo "$fuzzer failed on its corpus"; exit 1; }
cov=$(echo "$out" | sed -n 's/.*INITED cov: \([0-9]*\).*/\1/p' | tail -n 1)
if [ -z "$cov" ]; then
  echo "$out"
  echo "no coverage reported"
  exit 1
fi
echo "$(basename "$fuzzer"): the corpus covers $cov (floor $floor)"
if [ "$cov" -lt "$floor" ]; then
  echo "coverage $cov is below the floor $floor: is the reader built with -fsanitize=fuzzer-no-link?"
  exit 1
fi
