#!/usr/bin/env bash
# Runs chosen Wine test programs again and again to find faults that show only now and then (not part of
# the test command; run the test command once first, it installs and builds everything). Each program runs
# through ctest, so with the same command, working directory and environment as in the test command; a
# GoogleTest filter narrows a program to some of its cases. Prints per test "N runs, F failures" and the
# output of its first failure; every run's whole output stays in <build>/stress/.
#   stress.sh [-n N] [--hog] TEST[:FILTER] ...
#     TEST            a ctest entry of the Windows build (soak_test, controller_test ...), or "all"
#     :FILTER         GoogleTest filter for that program (Soak.StopWhileAWindowStarts, Soak.*-Soak.Real*)
#     -n N            runs of each test (default 20)
#     --hog           keep every core busy meanwhile with as many busy loops as there are cores
#   BUILD_ROOT=dir    build tree (default: build)
#   Further variables reach the test programs, for example TOVIX_SOAK_RANDOM_STOPS=20 (see soak_test.cpp).
# Example: bash scripts/stress.sh -n 60 --hog soak_test:Soak.StopWhileAWindowStarts
# Exits non-zero when any run failed.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

runs=20
hog=0
specs=()
while (($#)); do
  case "$1" in
    -n) runs=$2; shift 2 ;;
    --hog) hog=1; shift ;;
    -h|--help) sed -n '2,/^set /p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) specs+=("$1"); shift ;;
  esac
done
((${#specs[@]})) || { echo "usage: stress.sh [-n N] [--hog] TEST[:FILTER] ..." >&2; exit 2; }

root=${BUILD_ROOT:-build}
root=$(cd "$root" 2>/dev/null && pwd) || { echo "no build tree: run scripts/test.sh first" >&2; exit 2; }
[[ -f "$root/win/CTestTestfile.cmake" ]] || { echo "no Windows build in $root/win" >&2; exit 2; }
if [[ "${specs[*]}" == all ]]; then
  mapfile -t specs < <(cd "$root/win" && ctest -N | sed -n 's/^ *Test *#[0-9]*: //p' | grep -vx ui_screenshots_png)
fi
logs="$root/stress"
rm -rf "$logs"
mkdir -p "$logs"

hogs=()
stop_hogs() {
  local pid
  for pid in "${hogs[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${hogs[@]}"; do wait "$pid" 2>/dev/null; done
  hogs=()
}
export WINE_ENV_PREFIX="$root/wineprefix"
source scripts/wine-env.sh
trap 'stop_hogs; wine_env_stop' EXIT
trap 'exit 130' INT TERM
wine_env_start || exit 1
if ((hog)); then
  for _ in $(seq "$(nproc)"); do
    bash -c 'while :; do :; done' &
    hogs+=($!)
  done
  echo "CPU hog: ${#hogs[@]} busy loops"
fi

summary=()
any_failed=0
for spec in "${specs[@]}"; do
  test=${spec%%:*}
  filter=""
  [[ "$spec" == *:* ]] && filter=${spec#*:}
  name=$(printf '%s' "$spec" | tr -c 'A-Za-z0-9_.-' '_')
  failures=0
  first=""
  started=$SECONDS
  for run in $(seq "$runs"); do
    log="$logs/$name.$run.log"
    # GTEST_FILTER reaches the program through Wine's environment; unset, the program runs whole.
    if (cd "$root/win" && GTEST_FILTER=${filter:-*} wine_env_norandom ctest -R "^${test}\$" -V >"$log" 2>&1) \
         && grep -q '100% tests passed' "$log"; then
      result=ok
    else
      result=FAILED
      failures=$((failures + 1))
      [[ -n "$first" ]] || first=$log
    fi
    if grep -q 'Running 0 tests' "$log"; then
      echo "$spec: the filter matches no test" >&2
      exit 2
    fi
    echo "$spec run $run/$runs: $result ($((SECONDS - started)) s)"
  done
  line="$spec: $runs runs, $failures failures"
  summary+=("$line")
  echo "$line"
  if [[ -n "$first" ]]; then
    any_failed=1
    echo "--- first failure ($first) ---"
    # ctest -V keeps every run's whole output, its lines prefixed with the test's number.
    tr -d '\r' <"$first" | sed -n 's/^[0-9][0-9]*: //p' | grep -v '^\(Test command\|Working Directory\|Test timeout\)' \
      | tail -n 150
    echo "---"
  fi
done

echo
echo "=== stress summary$( ((hog)) && echo ", with CPU hog") ==="
printf '%s\n' "${summary[@]}"
exit $any_failed
