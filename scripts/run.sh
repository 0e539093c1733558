#!/usr/bin/env bash
# The main job: installs what is missing, builds launcher.exe, lays out the installation directory (with
# the pinned Windows Node.js and the reference connector) and starts launcher.exe under Wine. The window
# starts the supervisor, which starts runtime\node.exe on app\connector.js.
#  - With a usable display (DISPLAY set, not CI) the window appears there; the script waits until it is
#    closed, then ends the supervisor and the connector with "launcher.exe --stop".
#  - Without one it runs under Xvfb and plays the user: once the window shows the workbench it presses
#    the Start button (through e2e_probe.exe, which reads and drives the window), waits until the window
#    shows the pairing QR code (decoded from a screenshot) and saves that screenshot. Then it plays the
#    phone: it opens the connector's page from the window's system menu (a stand-in for the system's URL
#    handler receives the address, with the connector's secret in its fragment), enters the code read off
#    the screen there in headless chromium, and once the window shows the phone as paired (and the QR code
#    is gone from the screen) that screen is saved too. It prints both paths, then ends everything with
#    "launcher.exe --stop" and checks that no launcher.exe or node.exe of this Wine prefix is left.
#   BUILD_ROOT=dir                   build tree (default: build)
#   TOVIX_MOBILE_CONNECTOR_PORT=n    connector port (default 8093)
#   RUN_HEADLESS=1                   use Xvfb even when a display is available
# Exit code 0 on success, 1 on any failure.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/install-deps.sh || exit 1

root=${BUILD_ROOT:-build}
mkdir -p "$root"
root=$(cd "$root" && pwd)
logs="$root/run-logs"
mkdir -p "$logs"

say() { echo "[run] $*"; }
fail() { echo "[run] FAILED: $*" >&2; exit 1; }

# The launcher's own port rule: 1-5 digits naming 1024-65535, else 8093.
port=8093
if [[ "${TOVIX_MOBILE_CONNECTOR_PORT:-}" =~ ^[0-9]{1,5}$ ]] && ((10#$TOVIX_MOBILE_CONNECTOR_PORT >= 1024 && 10#$TOVIX_MOBILE_CONNECTOR_PORT <= 65535)); then
  port=$((10#$TOVIX_MOBILE_CONNECTOR_PORT))
fi
export TOVIX_MOBILE_CONNECTOR_PORT=$port

say "building launcher.exe (and e2e_probe.exe, which reads the window)"
cmake -S . -B "$root/win" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
  >"$logs/configure-win.log" 2>&1 || { cat "$logs/configure-win.log"; fail "cmake configure"; }
cmake --build "$root/win" --target launcher e2e_probe -j"$(nproc)" >"$logs/build-win.log" 2>&1 \
  || { tail -n 40 "$logs/build-win.log"; fail "build"; }

say "laying out the installation"
bash scripts/package.sh "$root" >"$logs/package.out" 2>"$logs/package.log" || { cat "$logs/package.log"; fail "package"; }
install=$(sed -n 1p "$logs/package.out")
say "installation: $install"
say "package:      $(sed -n 2p "$logs/package.out")"
say "installer:    $(sed -n 3p "$logs/package.out")"

# A small workbench of demo projects, so that the connector finds one.
workbench="$root/demo-workbench"
mkdir -p "$workbench/旅行计划" "$workbench/mobile-app" "$workbench/notes"

headless=1
if [[ -z "${CI:-}" && -z "${RUN_HEADLESS:-}" && -n "${DISPLAY:-}" ]] && xdpyinfo >/dev/null 2>&1; then
  headless=0
  export WINE_ENV_DISPLAY="$DISPLAY"
fi
# The page's browser driver (puppeteer-core in app/node_modules), reinstalled only when the lockfile is newer
# than the installed tree: npm ci takes about 10 s.
if ((headless)) && [[ ! app/node_modules/.package-lock.json -nt app/package-lock.json ]]; then
  say "installing the page's browser driver (app/node_modules)"
  (cd app && npm ci --no-audit --no-fund --loglevel=error >"$logs/npm.log" 2>&1) || { cat "$logs/npm.log"; fail "npm ci"; }
fi
export WINE_ENV_PREFIX="$root/wineprefix"
# shellcheck source=wine-env.sh
source scripts/wine-env.sh
wine_env_start || fail "Wine environment"
trap 'wine_env_stop' EXIT
export TOVIX_WORKBENCH_DIR
TOVIX_WORKBENCH_DIR=$(winepath -w "$workbench" 2>/dev/null)

# Whether anything answers HTTP on the port (a connector answers 401 without its secret).
answers() {
  node -e '
    const req = require("node:http").get({ host: "127.0.0.1", port: Number(process.argv[1]), path: "/",
      agent: false, timeout: 3000 }, () => process.exit(0));
    req.on("timeout", () => req.destroy()); req.on("error", () => process.exit(1));
  ' "$port"
}
if answers; then
  fail "port $port already answers: another connector runs (end it, or set TOVIX_MOBILE_CONNECTOR_PORT)"
fi

# The window as e2e_probe.exe reads it: one line per control, by row of the control table.
probe() { wine "$root/win/bin/e2e_probe.exe" "$@" >"$logs/probe.out" 2>/dev/null </dev/null; }
read_window() { probe list && cp "$logs/probe.out" "$logs/window.txt"; }
field() { awk -F'\t' -v i="$1" -v f="$2" '$1 == i { print $f }' "$logs/window.txt"; }
WORKBENCH=14 START=15 QR=5 CODE=7 START_ID=100 OPEN_IN_BROWSER=4096

stop_everything() {
  say "ending everything with launcher.exe --stop"
  (cd "$install" && wine launcher.exe --stop >"$logs/stop.out" 2>&1 </dev/null)
  local rc=$?
  [[ $rc -eq 0 ]] || { echo "[run] launcher.exe --stop exited with $rc" >&2; return 1; }
  local left i
  for i in $(seq 1 50); do
    left=$(wine_env_processes)
    [[ -z "$left" ]] && break
    sleep 0.2
  done
  if [[ -n "$left" ]]; then
    echo "[run] still running after --stop:" >&2
    echo "$left" >&2
    return 1
  fi
  say "--stop returned 0; no launcher.exe or node.exe left"
}

say "starting launcher.exe (port $port, workbench $TOVIX_WORKBENCH_DIR)"
(cd "$install" && exec wine launcher.exe >"$logs/launcher.out" 2>&1 </dev/null) &
window_pid=$!

if ((headless == 0)); then
  say "the window is on $DISPLAY; close it to end (the connector's page: the window's system menu, 在浏览器中打开)"
  wait "$window_pid"
  stop_everything || exit 1
  exit 0
fi

# Headless: wait for the window to find the workbench, press Start, wait for the QR code on screen.
start_ready() { read_window && [[ "$(field $WORKBENCH 8)" == "已找到 Tovix 工作台"* && "$(field $START 5)" == 1 ]]; }
for i in $(seq 1 120); do start_ready && break; sleep 0.5; done
start_ready || { cat "$install/connector.log" 2>/dev/null; stop_everything; fail "connector not reachable or no workbench"; }
say "the window shows the workbench; pressing 开始连接"
probe click $START_ID

shots="$root/screenshots"
mkdir -p "$shots"
shot="$shots/connector-$(date -u +%Y%m%dT%H%M%SZ).png"
found=0
for i in $(seq 1 60); do
  code=""
  read_window && [[ "$(field $QR 4)" == 1 ]] && code=$(field $CODE 8 | sed -n 's/^配对码 \([0-9]\{6\}\)  ·  .*/\1/p')
  if [[ -n "$code" ]]; then
    import -window root "$shot" 2>/dev/null
    decoded=$(zbarimg -q --raw "$shot" 2>/dev/null | head -n 1)
    if [[ "$decoded" == "tovix://pair?v=1&code=$code&"* ]]; then found=1; break; fi
  fi
  sleep 1
done
if ((found == 0)); then
  stop_everything
  fail "the QR code did not appear on screen (last screenshot: $shot)"
fi
say "the window shows the pairing QR code: $decoded"
say "screenshot: $shot"

# The phone: the page opened from the window's system menu, as a user opens it; the stand-in for the
# system's URL handler keeps the address (with the connector's secret) only until the page has it.
opened="$logs/opened.url"
rm -f "$opened"
printf '#!/bin/sh\necho "$1" > "%s"\n' "$opened" >"$logs/browser-stub.sh"
chmod +x "$logs/browser-stub.sh"
wine reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /t REG_SZ /d "$logs/browser-stub.sh" /f >/dev/null 2>&1
probe syscommand $OPEN_IN_BROWSER
for i in $(seq 1 75); do [[ -s "$opened" ]] && break; sleep 0.2; done
page=$(cat "$opened" 2>/dev/null)
rm -f "$opened"
wine reg delete 'HKCU\Software\Wine\WineBrowser' /v Browsers /f >/dev/null 2>&1
[[ -n "$page" ]] || { stop_everything; fail "the window's system menu opened no page"; }
say "entering $code on the connector's page (opened from the window's menu) in headless chromium"
node app/test-support/pair-in-browser.js "$page" "$code" >"$logs/pair.log" 2>&1 \
  || { cat "$logs/pair.log"; stop_everything; fail "the page did not pair"; }
page=""
paired_shot="$shots/paired-$(date -u +%Y%m%dT%H%M%SZ).png"
window_paired() {
  read_window || return 1
  awk -F'\t' '$4 == 1 && index($8, "✓  手机已配对") == 1 { found = 1 } END { exit !found }' "$logs/window.txt"
}
found=0
for i in $(seq 1 40); do
  if window_paired; then
    import -window root "$paired_shot" 2>/dev/null
    [[ -z "$(zbarimg -q --raw "$paired_shot" 2>/dev/null)" ]] && { found=1; break; }
  fi
  sleep 0.5
done
if ((found == 0)); then
  stop_everything
  fail "the window did not show the phone as paired (window: $logs/window.txt)"
fi
say "the window shows the phone as paired"
say "screenshot: $paired_shot"
stop_everything || exit 1
echo "$shot"
echo "$paired_shot"
