#!/usr/bin/env bash
# End-to-end test of the whole chain under Wine: launcher.exe (window and supervisor), the real Windows
# node.exe and the reference connector, laid out as an installation. e2e_probe.exe reads the window's
# controls and presses its buttons from inside Wine; this script follows the scenario from Linux, reads
# the QR code off a screenshot with zbarimg, plays the phone on the connector's page in headless chromium
# (app/test-support/pair-in-browser.js, which needs app/node_modules) and checks processes through /proc.
# The connector's secret is known here only as a user gets it: in the address that the window's system
# menu hands to the system's URL handler (a stub that writes it to a file, which is removed at the end).
# A second Wine prefix, a separate Windows with a session of its own on the same 127.0.0.1, plays a second
# user of the computer.
#   e2e.sh <Windows build directory>   (ctest passes it; bin/ holds launcher.exe and e2e_probe.exe)
# Uses the caller's WINEPREFIX and DISPLAY (scripts/test.sh exports them with a running wineserver), or
# sets up its own prefix in the build tree when they are missing.
set -uo pipefail
win=$(cd "${1:?Windows build directory}" && pwd)
root=$(dirname "$win")
repo=$(cd "$(dirname "$0")/../.." && pwd)
bin="$win/bin"
work="$win/e2e"
rm -rf "$work"
mkdir -p "$work"

# shellcheck source=../support/checks.sh
source "$repo/tests/support/checks.sh" "$repo" "$root"

# --- installation -------------------------------------------------------------------------------------
# The same layout a user unpacks from the ZIP (scripts/package.sh), so the package is what is tested.
bash "$repo/scripts/package.sh" "$root" "$bin/launcher.exe" >"$work/package.out" 2>"$work/package.log" || { cat "$work/package.log"; exit 1; }
install=$(sed -n 1p "$work/package.out")
[[ -f "$install/launcher.exe" && -f "$install/runtime/node.exe" && -f "$install/app/connector.js" ]] || exit 1
workbench="$work/workbench"
mkdir -p "$workbench/alpha" "$workbench/beta"
export TOVIX_WORKBENCH_DIR
TOVIX_WORKBENCH_DIR=$(winepath -w "$workbench" 2>/dev/null)
export TOVIX_CONNECTOR_CONNECT_MS=500
TOVIX_MOBILE_CONNECTOR_PORT=$(free_port)
export TOVIX_MOBILE_CONNECTOR_PORT
port=$TOVIX_MOBILE_CONNECTOR_PORT
note "installation $install, port $port"

# --- helpers ------------------------------------------------------------------------------------------
# Controls by creation order (the window's control table): the statics have no ids.
PILL=3 QR=5 PLACEHOLDER=6 CODE=7 NEWQR=8 WORKBENCH=14 RETRY=17 PROJECTS=21
START_ID=100 STOP_ID=101 RETRY_ID=102 NEWQR_ID=103 OPEN_IN_BROWSER=4096

probe() { wine "$bin/e2e_probe.exe" "$@" >"$work/probe.out" 2>/dev/null </dev/null; }
snapshot_controls() { probe list && cp "$work/probe.out" "$work/controls.txt"; }
field() { awk -F'\t' -v i="$1" -v f="$2" '$1 == i { print $f }' "$work/controls.txt"; }
text_of() { field "$1" 8; }
visible() { [[ "$(field "$1" 4)" == 1 ]]; }

# wait_for <seconds> <predicate...>: re-reads the window until the predicate holds.
snapshot_then() { snapshot_controls && "$@"; }
wait_for() { local limit=$1; shift; wait_until "$limit" snapshot_then "$@"; }

secret=""   # from the address the page is opened with, once the system menu has opened it
http() {   # http METHOD PATH [BODY] -> status line, then body; with $secret (or E2E_SECRET) as Bearer
  E2E_SECRET=${E2E_SECRET-$secret} node -e '
    const [method, path, body] = process.argv.slice(1);
    const port = Number(process.env.TOVIX_MOBILE_CONNECTOR_PORT);
    const headers = body ? { "Content-Type": "application/json", Origin: `http://127.0.0.1:${port}` } : {};
    if (process.env.E2E_SECRET) headers.Authorization = `Bearer ${process.env.E2E_SECRET}`;
    const req = require("node:http").request({ host: "127.0.0.1", port, method, path, agent: false, timeout: 3000,
      headers }, (res) => {
      let t = ""; res.setEncoding("utf8"); res.on("data", (d) => { t += d; });
      res.on("end", () => process.stdout.write(`${res.statusCode}\n${t}`));
    });
    req.on("timeout", () => req.destroy()); req.on("error", () => process.exit(1)); req.end(body || undefined);
  ' "$@"
}
pairing_field() {   # the current pairing offer from the connector's JSON view: payload or code
  http GET /api/connector/snapshot | sed -n 2p | node -e '
    let t = ""; process.stdin.on("data", (d) => { t += d; });
    process.stdin.on("end", () => { try { process.stdout.write(String(JSON.parse(t).pairing[process.argv[1]] ?? "")); } catch {} });
  ' "$1"
}

gone() { [[ -n "$1" ]] && wait_until 10 ended "$1"; }   # an empty pid is a failure, not a success

prefix_b="$root/wineprefix-second-user"   # the second user's Windows (section 8)

window_pid=""
start_window() {
  (cd "$install" && exec wine launcher.exe >"$work/window-$1.out" 2>&1 </dev/null) &
  window_pid=$!
}

cleanup() {
  if [[ -n "$(wine_env_processes)" ]]; then
    (cd "$install" && wine launcher.exe --stop >/dev/null 2>&1 </dev/null)
    local line
    wine_env_processes | while read -r line; do kill -KILL "${line%% *}" 2>/dev/null; done
  fi
  wine reg delete 'HKCU\Software\Wine\WineBrowser' /v Browsers /f >/dev/null 2>&1
  rm -f "$work/opened.txt"
  [[ -d "$prefix_b" ]] && WINEPREFIX=$prefix_b wineserver -k >/dev/null 2>&1
}
trap cleanup EXIT

# The QR symbol as the screen shows it: a screenshot cropped to QrView, decoded.
decode_qr_view() {
  local x y w h rect
  rect=$(field "$QR" 6)
  read -r x y w h <<<"$rect"
  import -window root "$work/screen.png" 2>/dev/null || return 1
  convert "$work/screen.png" -crop "${w}x${h}+${x}+${y}" +repage "$work/qr.png" 2>/dev/null || return 1
  zbarimg -q --raw "$work/qr.png" 2>/dev/null | head -n 1
}
shown_code() { text_of "$CODE" | sed -n 's/^配对码 \([0-9]\{6\}\)  ·  剩余 [0-9]*:[0-9][0-9]$/\1/p'; }

# --- 1. cold start ------------------------------------------------------------------------------------
start_window cold
cold_ready() { [[ "$(text_of $PILL)" == "●  未连接" && "$(text_of $WORKBENCH)" == "已找到 Tovix 工作台\\r\\n"* ]]; }
check "cold start reaches ●  未连接 with the workbench found" wait_for 60 cold_ready
check "the project count is shown" test "$(text_of $PROJECTS)" == "Tovix 工作台 · 2 个本地项目"
check "the window started a supervisor, which runs node.exe" test -n "$(pid_of --background)" -a -n "$(pid_of node.exe)"

# --- 1a. the system menu opens the page with the secret in the fragment -----------------------------------
stub="$work/browser-stub.sh"
printf '#!/bin/sh\necho "$1" > "%s"\n' "$work/opened.txt" >"$stub"
chmod +x "$stub"
wine reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /t REG_SZ /d "$stub" /f >/dev/null 2>&1
page_url=""
open_page() {   # the system-menu item, as a user chooses it; the address the URL handler received
  rm -f "$work/opened.txt"
  probe syscommand $OPEN_IN_BROWSER
  wait_until 15 test -s "$work/opened.txt" || return 1
  page_url=$(head -n 1 "$work/opened.txt")
  secret=${page_url#*#token=}
  [[ "$page_url" =~ ^http://127\.0\.0\.1:$port/connect\.html#token=[0-9a-f]{64}$ ]]
}
check "the system-menu item opens the connector's page with the secret in its fragment" open_page
check "the page answers without the secret" test "$(E2E_SECRET= http GET /connect.html | head -n 1)" == 200

# --- 1b. without the secret nothing of the API answers, and nothing changes --------------------------------
refused() {   # refused <secret> <method> <path> [body]: 401
  local s=$1; shift
  [[ "$(E2E_SECRET=$s http "$@" | head -n 1)" == 401 ]]
}
before=$(http GET /api/connector/desktop)
for wrong in "" "0000000000000000000000000000000000000000000000000000000000000000"; do
  what=$([[ -z "$wrong" ]] && echo "without the secret" || echo "with a wrong secret")
  check "the status document is refused $what" refused "$wrong" GET /api/connector/desktop
  check "start is refused $what" refused "$wrong" POST /api/connector/start '{"deviceName":"X","relayProvider":"quorbelapi"}'
  check "stop is refused $what" refused "$wrong" POST /api/connector/stop '{}'
  check "detect is refused $what" refused "$wrong" POST /api/connector/desktop/detect '{}'
  check "a new code is refused $what" refused "$wrong" POST /api/connector/pairing/reset '{}'
  check "pairing is refused $what" refused "$wrong" POST /api/connector/pairing/pair '{"code":"123456"}'
done
check "the refused requests changed nothing" test "$(http GET /api/connector/desktop)" == "$before"

# --- 2. start: online with a QR code that carries the code shown ---------------------------------------
probe click $START_ID
online_with_code() { [[ "$(text_of $PILL)" == "●  已连接" ]] && visible $QR && [[ -n "$(shown_code)" ]]; }
check "after Start the window reaches ●  已连接 and shows a QR code" wait_for 30 online_with_code
qr_matches_now() {   # the screen's symbol is the connector's payload and carries the six digits shown
  snapshot_controls
  decoded=$(decode_qr_view); payload=$(pairing_field payload); code=$(shown_code)
  [[ -n "$decoded" && "$decoded" == "$payload" && "$decoded" == *"code=$code&"* ]] && echo "$decoded" >"$work/decoded.txt"
}
qr_matches() {
  wait_until 6 qr_matches_now && return 0
  note "decoded '$decoded', connector '$payload', shown '$code'"
  return 1
}
check "the QR view decodes to the connector's payload with the digits shown" qr_matches
first_payload=$(cat "$work/decoded.txt" 2>/dev/null)
first_code=$(shown_code)

# --- 3. new code --------------------------------------------------------------------------------------
probe click $NEWQR_ID
new_code_shown() { visible $QR && [[ -n "$(shown_code)" && "$(pairing_field payload)" != "$first_payload" ]]; }
check "a new code replaces the QR code" wait_for 20 new_code_shown
check "the new QR code decodes to the new payload with the new digits" qr_matches
check "the payload changed" test "$(cat "$work/decoded.txt")" != "$first_payload"
note "codes: $first_code -> $(shown_code)"

# --- 4. the phone pairs through the page, then a new code with confirmation ------------------------------
check "the page, opened with the address the window handed over, pairs with the code the window shows" \
  node "$repo/app/test-support/pair-in-browser.js" "$page_url" "$(shown_code)"
paired_shown() { visible $PLACEHOLDER && [[ "$(text_of $PLACEHOLDER)" == "✓  手机已配对"* ]] && ! visible $QR; }
check "the window shows ✓  手机已配对…" wait_for 20 paired_shown
check "the new-code button offers to unpair" test "$(field $NEWQR 8)" == "解除配对并生成新码"
probe click $NEWQR_ID
dialog_shown() { probe dialog && cp "$work/probe.out" "$work/dialog.txt"; }
check "the new-code command asks for confirmation while paired" wait_until 10 dialog_shown
check "the confirmation names the unpairing" grep -q $'解除手机配对？\t已配对的手机会断开。你可以用新二维码重新连接。' "$work/dialog.txt"
probe dialog ok
check "after confirming, a new QR code is shown" wait_for 20 online_with_code

# --- 5. stop ------------------------------------------------------------------------------------------
probe click $STOP_ID
idle_shown() { [[ "$(text_of $PILL)" == "●  未连接" ]] && ! visible $QR; }
check "Stop goes back to ●  未连接" wait_for 20 idle_shown

# --- 6. the connector dies; the window restarts it ----------------------------------------------------------
supervisor=$(pid_of --background)
node_pid=$(pid_of node.exe)
check "the supervisor and node.exe are found" test -n "$supervisor" -a -n "$node_pid"
kill -KILL "$node_pid" 2>/dev/null
check "killing node.exe ends the supervisor" gone "$supervisor"
unreachable_shown() { [[ "$(text_of $PILL)" == "●  服务不可用" && "$(field $RETRY 8)" == "启动连接器" ]] && visible $RETRY; }
check "the window shows the unreachable view with 启动连接器" wait_for 30 unreachable_shown
probe click $RETRY_ID
check "启动连接器 brings the connector back" wait_for 60 cold_ready
check "a new supervisor and node.exe run" test -n "$(pid_of --background)" -a -n "$(pid_of node.exe)"
old_secret=$secret
check "the page opens with the new supervisor's secret" open_page
check "the new supervisor made a new secret" test "$secret" != "$old_secret"
old_secret=""

# --- 7. closing the window leaves the connector; a new window shows the state at once ---------------------
probe close
check "closing the window ends the window process" gone "$window_pid"
check "the supervisor and node.exe keep running" test -n "$(pid_of --background)" -a -n "$(pid_of node.exe)"
http POST /api/connector/start '{"deviceName":"E2E-PC","relayProvider":"thirdparty"}' >/dev/null
start_window second
pills=""
seen_online() {
  pills+="$(text_of $PILL)|"
  [[ "$(text_of $PILL)" == "●  已连接" ]]
}
check "a new window finds the running connector and shows it online" wait_for 30 seen_online
check "the new window never showed the unreachable view" test "${pills/服务不可用/}" == "$pills"
check "the relay the connector reports is selected" test "$(field 13 7)" == 1

# --- 8. a second user of the computer ------------------------------------------------------------------
# A second Wine prefix is a separate Windows with a session and named objects of its own that shares this
# machine's 127.0.0.1: the closest stand-in for a second user, with an installation of their own. Their
# window, on the same port, must never show or drive the first user's connector.
install_b="$work/install-second-user"
cp -al "$install" "$install_b" && rm -f "$install_b/connector.log"
as_b() { WINEPREFIX=$prefix_b "$@"; }
(export WINE_ENV_PREFIX=$prefix_b WINE_ENV_DISPLAY=$DISPLAY; source "$repo/scripts/wine-env.sh"; wine_env_start) \
  >"$work/prefix-b.out" 2>&1
a_before=$(http GET /api/connector/desktop | sed -n '3p;4p;9p;11p')
(cd "$install_b" && WINEPREFIX=$prefix_b exec wine launcher.exe >"$work/window-b.out" 2>&1 </dev/null) &
b_seen=""
b_unreachable() {
  as_b probe list && cp "$work/probe.out" "$work/controls.txt" || return 1
  b_seen+="$(text_of $PILL)|$(visible $QR && echo qr)|$(text_of $CODE)|"
  [[ "$(text_of $PILL)" == "●  服务不可用" ]]
}
check "the second user's window shows the unreachable view" wait_until 40 b_unreachable
check "it never showed the first user's state or code" \
  test "${b_seen//已连接/}" == "$b_seen" -a "${b_seen//qr/}" == "$b_seen" -a "${b_seen//配对码/}" == "$b_seen"
check "the second user's connector.log says that the port is in use" \
  grep -q "port $port on 127.0.0.1 is already in use" "$install_b/connector.log"
check "the first user's connector is unchanged" test "$(http GET /api/connector/desktop | sed -n '3p;4p;9p;11p')" == "$a_before"
(cd "$install_b" && as_b wine launcher.exe --stop >"$work/stop-b.out" 2>&1 </dev/null)
check "the second user's --stop ends their window" as_b no_processes_left
as_b wineserver -k >/dev/null 2>&1

# --- 9. --stop ends everything; the secret is nowhere ------------------------------------------------------------------------------
(cd "$install" && wine launcher.exe --stop >"$work/stop.out" 2>&1 </dev/null)
check "launcher.exe --stop returns 0" test $? -eq 0
check "no launcher.exe or node.exe process is left" no_processes_left
check "the secret is in no log or output" bash -c '! grep -rqsF --exclude=opened.txt "$0" "$1" "$2"' "$secret" "$install" "$work"

cleanup
trap - EXIT
checks_end e2e
