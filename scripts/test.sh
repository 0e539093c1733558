#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the Windows executable and its test programs, runs them
# under Wine (with Xvfb), the native parser checks (sanitizers, a bounded fuzzing run, the benchmark) and
# the reference connector's own tests. Exits non-zero on any failure.
#   BUILD_ROOT=dir  build tree (default: build)
#   FUZZ_SECONDS=n  length of the fuzzing run (default: 60)
#   extra arguments go to the Windows ctest run (for example -R roles)
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/install-deps.sh || exit 1

root=${BUILD_ROOT:-build}
mkdir -p "$root"
root=$(cd "$root" && pwd)
jobs=$(nproc)
failed=()

step() { echo; echo "=== $* ==="; }

step "build (Windows)"
cmake -S . -B "$root/win" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
  >"$root/configure-win.log" 2>&1 || { cat "$root/configure-win.log"; exit 1; }
cmake --build "$root/win" -j"$jobs" || exit 1

step "build (native checks)"
CC=clang CXX=clang++ cmake -S . -B "$root/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  >"$root/configure-native.log" 2>&1 || { cat "$root/configure-native.log"; exit 1; }
cmake --build "$root/native" -j"$jobs" || exit 1

step "launcher.exe"
exe="$root/win/bin/launcher.exe"
echo "size: $(stat -c %s "$exe") bytes ($(( ($(stat -c %s "$exe") + 1023) / 1024 )) KiB)"
echo "DLL imports:"
x86_64-w64-mingw32-objdump -p "$exe" | grep 'DLL Name' | sed 's/^[[:space:]]*/  /'

step "layers of launcher/ui"
# Each module of the window includes only modules below it (the window procedure's file at the top, the
# shared state and text helpers at the bottom), so the include graph has no loop; tsort fails on one.
for f in launcher/ui/*.h launcher/ui/*.cpp; do
  m=$(basename "${f%.*}")
  sed -n 's/^#include "\([a-z_]*\)\.h".*/\1/p' "$f" | while read -r d; do [[ "$d" == "$m" ]] || echo "$m $d"; done
done | tsort >/dev/null && echo "no loop" || failed+=(layers)

step "native parser checks"
(cd "$root/native" && ctest --output-on-failure) || failed+=(native)
if [[ -x "$root/native/tests/native/status_document_fuzzer" ]]; then
  step "fuzzing the status document parser (${FUZZ_SECONDS:-60} s)"
  corpus="$root/fuzz-corpus"
  rm -rf "$corpus"; mkdir -p "$corpus"
  "$root/native/tests/native/status_document_fuzzer" -max_total_time="${FUZZ_SECONDS:-60}" -max_len=36000 \
    -print_final_stats=1 "$corpus" "$here/tests/native/corpus" >"$root/fuzz.log" 2>&1 \
    && tail -n 12 "$root/fuzz.log" || { tail -n 60 "$root/fuzz.log"; failed+=(fuzz); }
fi
if [[ -x "$root/native/tests/native/status_document_benchmark" ]]; then
  step "parser benchmark"
  "$root/native/tests/native/status_document_benchmark" || failed+=(benchmark)
fi

if [[ -f app/package.json ]]; then
  step "reference connector tests"
  # The browser test saves its screenshot of the page beside the other screenshots of the build tree.
  (cd app && npm ci --no-audit --no-fund --loglevel=error \
    && TOVIX_PAGE_SCREENSHOT="$root/screenshots/connect-page.png" node --test) || failed+=(connector)
fi

step "Windows tests under Wine"
export WINE_ENV_PREFIX="$root/wineprefix"
source scripts/wine-env.sh
wine_env_start || exit 1
(cd "$root/win" && wine_env_norandom ctest --output-on-failure "$@") || failed+=(windows)
wine_env_stop

echo
if ((${#failed[@]})); then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all test groups passed"
