#!/usr/bin/env bash
# A long fuzzing run of the status document parser (not part of the test command, which fuzzes for 60 s).
# Starts from the kept corpus tests/native/corpus, runs until the given number of executions or seconds,
# then merges what it found back into the kept corpus, minimised (libFuzzer -merge=1 adds only inputs that
# reach new coverage), so that the next long run starts where this one ended. Commit the grown corpus.
#   fuzz.sh [--runs N | --seconds S]   (default: --runs 100000000)
#   BUILD_ROOT=dir  build tree (default: build)
# Runs under nice -n 19. A crash leaves its input in <build>/fuzz-long/ and fails the run.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

limit=(-runs=100000000)
case "${1:-}" in
  --runs) limit=(-runs="$2") ;;
  --seconds) limit=(-max_total_time="$2") ;;
  "") ;;
  *) echo "usage: fuzz.sh [--runs N | --seconds S]" >&2; exit 2 ;;
esac

root=${BUILD_ROOT:-build}
mkdir -p "$root"
root=$(cd "$root" && pwd)
kept="$here/tests/native/corpus"
work="$root/fuzz-long"
fuzzer="$root/native/tests/native/status_document_fuzzer"

if [[ ! -x "$fuzzer" ]]; then
  CC=clang CXX=clang++ cmake -S . -B "$root/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    >"$root/configure-native.log" 2>&1 || { cat "$root/configure-native.log"; exit 1; }
  cmake --build "$root/native" -j"$(nproc)" --target status_document_fuzzer || exit 1
fi

rm -rf "$work"
mkdir -p "$work/found"
before=$(ls "$kept" | wc -l)
echo "fuzzing from $before kept inputs (${limit[*]}); log: $work/fuzz.log"
# New inputs go to the first directory; the kept corpus is only read.
nice -n 19 "$fuzzer" "${limit[@]}" -max_len=36000 -print_final_stats=1 -artifact_prefix="$work/" \
  "$work/found" "$kept" >"$work/fuzz.log" 2>&1
status=$?
grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' "$work/fuzz.log"
if ((status != 0)); then
  tail -n 60 "$work/fuzz.log"
  echo "the fuzzer failed (exit $status); inputs: $(ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* 2>/dev/null)"
  exit 1
fi

nice -n 19 "$fuzzer" -merge=1 -max_len=36000 "$kept" "$work/found" >"$work/merge.log" 2>&1 \
  || { tail -n 30 "$work/merge.log"; exit 1; }
after=$(ls "$kept" | wc -l)
echo "kept corpus: $before -> $after inputs, $(du -sk "$kept" | cut -f1) KiB"
