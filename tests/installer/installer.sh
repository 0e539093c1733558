#!/usr/bin/env bash
# End-to-end test of the Windows installer under Wine, with the real node.exe and the reference connector:
# scripts/package.sh builds the MSI of this version (signed with a throwaway certificate) and of the next
# one (unsigned, from launcher_next); msiexec installs, upgrades while the program runs, refuses the
# downgrade, stops everything through the Start-menu stop shortcut, removes while the program runs, and
# installs with AUTOSTART=1. Files and processes are checked from Linux, the registry through "reg export",
# the window and the shortcuts with e2e_probe.exe.
#   installer.sh <Windows build directory> <version> <next version>   (ctest passes them)
set -uo pipefail
win=$(cd "${1:?Windows build directory}" && pwd)
version=${2:?version}
next=${3:?next version}
root=$(dirname "$win")
repo=$(cd "$(dirname "$0")/../.." && pwd)
bin="$win/bin"
work="$win/installer"
rm -rf "$work"
mkdir -p "$work"
# shellcheck source=../support/checks.sh
source "$repo/tests/support/checks.sh" "$repo" "$root"
# Wine would put the Start-menu shortcut into this machine's own desktop menus as well.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe="
TOVIX_MOBILE_CONNECTOR_PORT=$(free_port)
export TOVIX_MOBILE_CONNECTOR_PORT
port=$TOVIX_MOBILE_CONNECTOR_PORT

product="Tovix 随行连接器"
windows_path() { wine cmd /c echo "$1" 2>/dev/null </dev/null | tr -d '\r'; }
dir_win="$(windows_path '%LOCALAPPDATA%')\\Programs\\Tovix Mobile Connector"
dir=$(winepath -u "$dir_win" 2>/dev/null)
start_menu="$(winepath -u "$(windows_path '%APPDATA%')" 2>/dev/null)/Microsoft/Windows/Start Menu/Programs"
shortcut="$start_menu/$product.lnk"
stop_shortcut="$start_menu/停止 $product.lnk"
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'

msiexec() { wine msiexec "$@" >/dev/null 2>&1 </dev/null; }
log_of() { winepath -w "$work/$1.log" 2>/dev/null; }

# Values of a registry key and its subkeys as "key|name|value" lines (strings only, quotes and escapes
# kept as the export writes them); nothing when the key does not exist.
registry() {
  rm -f "$work/export.reg"
  wine reg export "$1" "$(winepath -w "$work/export.reg")" /y >/dev/null 2>&1 </dev/null || return 0
  iconv -f UTF-16 -t UTF-8 "$work/export.reg" | tr -d '\r' \
    | awk '/^\[/ { key = substr($0, 2, length($0) - 2); next }
           /^"[^"]*"="/ { i = index($0, "\"=\""); print key "|" substr($0, 2, i - 2) "|" substr($0, i + 3, length($0) - i - 3) }'
}
# Our entries in the installed-programs list, one line each: key|name|version|publisher.
entries() {
  { registry 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
    registry 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall'; } \
    | awk -F'|' '{ v[$1, $2] = $3; keys[$1] = 1 }
                 END { for (k in keys) if (v[k, "DisplayName"] == "Tovix 随行连接器")
                         print k "|" v[k, "DisplayName"] "|" v[k, "DisplayVersion"] "|" v[k, "Publisher"] }'
}
entry_is() { [[ "$(entries | cut -d'|' -f2- | tr '\n' ' ')" == "$product|$1|Ostrel " ]]; }
no_entry() { [[ -z "$(entries)" ]]; }
product_icon() {   # the icon file that the installed-programs list shows for our product
  registry 'HKCU\Software\Microsoft\Installer\Products' \
    | awk -F'|' '{ v[$1, $2] = $3; keys[$1] = 1 }
                 END { for (k in keys) if (v[k, "ProductName"] == "Tovix 随行连接器") print v[k, "ProductIcon"] }' \
    | sed 's/\\\\/\\/g'
}
is_icon() { local f; f=$(winepath -u "$1" 2>/dev/null) && [[ "$(head -c 4 "$f" 2>/dev/null | od -An -tx1 | tr -d ' ')" == 00000100 ]]; }
run_value() { registry "$run_key" | awk -F'|' '$2 == "Tovix Mobile Connector" { print $3 }' | sed 's/\\\\/\\/g; s/\\"/"/g'; }
no_run_value() { [[ -z "$(run_value)" ]]; }

# Removes whatever an earlier, interrupted run left installed, through the product codes of its entries.
remove_installed() {
  local code
  for code in $(entries | cut -d'|' -f1 | sed 's/.*\\//'); do msiexec /x "$code" /qn; done
}

same_files() {   # same_files <layout>: the installation holds exactly the layout's files (and connector.log)
  diff -r -q -x connector.log "$1" "$dir" >"$work/diff.txt" 2>&1 || { sed 's/^/# /' "$work/diff.txt"; return 1; }
}
shortcut_targets_launcher() { [[ -f "$shortcut" ]] && grep -a -q -F "$dir_win\\launcher.exe" "$shortcut"; }
# What a shortcut starts, as the shell reads it: "target=", "arguments=", "directory=", "icon=" lines.
read_shortcut() {   # through a file: a pipe from a Wine program can be held open by the services it starts
  wine "$bin/e2e_probe.exe" shortcut "$(winepath -w "$1" 2>/dev/null)" >"$work/shortcut.txt" 2>/dev/null </dev/null
  cat "$work/shortcut.txt"
}
shortcut_value() { read_shortcut "$1" | sed -n "s/^$2=//p"; }
stop_shortcut_stops() {   # the installed launcher.exe --stop, a GUI program (no console), with the window's icon
  local headers
  headers=$(x86_64-w64-mingw32-objdump -p "$dir/launcher.exe")
  [[ -f "$stop_shortcut" && "$(shortcut_value "$stop_shortcut" target)" == "$dir_win\\launcher.exe" &&
     "$(shortcut_value "$stop_shortcut" arguments)" == "--stop" &&
     -n "$(shortcut_value "$shortcut" icon)" &&
     "$(shortcut_value "$stop_shortcut" icon)" == "$(shortcut_value "$shortcut" icon)" &&
     "$headers" == *$'\nSubsystem\t\t00000002\t(Windows GUI)\n'* ]] && return 0
  read_shortcut "$stop_shortcut" | sed 's/^/# /'
  return 1
}
# Opens a shortcut as the Start menu does: the shell resolves the link and starts what it names.
open_shortcut() { wine start "$(winepath -w "$1" 2>/dev/null)" >/dev/null 2>&1 </dev/null; }
started_supervisor() { grep -a -q 'Action start [0-9:]*: StartSupervisor\.' "$work/$1.log"; }

window_pid=""
start_window() {
  (cd "$dir" && exec wine launcher.exe >"$work/window.out" 2>&1 </dev/null) &
  window_pid=$!
}
window_shown() { wine "$bin/e2e_probe.exe" list >/dev/null 2>&1 </dev/null; }
supervisor_pid() { pid_of "$dir_win\\launcher.exe --background"; }
connector_pid() { pid_of "$dir_win\\runtime\\node.exe"; }
connector_runs() { [[ -n "$(supervisor_pid)" && -n "$(connector_pid)" ]] && connector_answers "$port"; }

cleanup() {
  [[ -f "$dir/launcher.exe" ]] && (cd "$dir" && wine launcher.exe --stop >/dev/null 2>&1 </dev/null)
  wine_env_processes | while read -r line; do kill -KILL "${line%% *}" 2>/dev/null; done
  remove_installed
}
trap cleanup EXIT
remove_installed
rm -rf "$dir"

# --- packages: this version signed with a throwaway certificate, the next one unsigned ------------------
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=Tovix installer test" -addext extendedKeyUsage=codeSigning >/dev/null 2>&1
openssl pkcs12 -export -in "$work/cert.pem" -inkey "$work/key.pem" -out "$work/sign.p12" -passout pass:test
package() {   # package <name> <launcher.exe> [environment...] -> layout, zip, msi in $work/<name>.out
  env "${@:3}" bash "$repo/scripts/package.sh" "$root" "$2" "$work/$1" >"$work/$1.out" 2>"$work/$1.err" \
    || { sed 's/^/# /' "$work/$1.err"; exit 1; }
}
package old "$bin/launcher.exe" SIGN_PKCS12="$work/sign.p12" SIGN_PASSWORD=test
package new "$bin/next/launcher.exe"
{ read -r old_layout; read -r old_zip; read -r old_msi; } <"$work/old.out"
{ read -r new_layout; read -r new_zip; read -r new_msi; } <"$work/new.out"
note "installation $dir_win, port $port, MSI $(stat -c %s "$old_msi") bytes"
check "the packages are named by version" test "${old_zip##*/} ${old_msi##*/} ${new_msi##*/}" == \
  "TovixMobileConnector-$version.zip TovixMobileConnector-$version.msi TovixMobileConnector-$next.msi"
verify() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >"$work/verify.out" 2>&1 || { sed 's/^/# /' "$work/verify.out"; return 1; }; }
check "launcher.exe is signed with the given certificate" verify "$old_layout/launcher.exe"
check "the MSI is signed with the given certificate" verify "$old_msi"
check "without a certificate the package says it is unsigned" grep -q '^unsigned' "$work/new.err"
downgrade_message() { msiinfo export "$old_msi" LaunchCondition | grep -q -F "已安装更新版本的 Tovix 随行连接器。"; }
check "the MSI carries the message that refuses a downgrade" downgrade_message

# --- 1. first installation ---------------------------------------------------------------------------------
check "msiexec /i /qn installs" msiexec /i "$(winepath -w "$old_msi")" /qn /l*v "$(log_of install)"
check "the installation holds exactly the files of the package" same_files "$old_layout"
check "the Start-menu shortcut $product starts the installed launcher.exe" shortcut_targets_launcher
check "the Start-menu shortcut 停止 $product runs the installed launcher.exe --stop" stop_shortcut_stops
check "one installed-programs entry: name, version, publisher" entry_is "$version"
check "the entry has the program's icon" is_icon "$(product_icon)"
first_install_starts_nothing() { no_processes_running && ! started_supervisor install; }
check "a first installation starts nothing" first_install_starts_nothing
check "no start at logon by default" no_run_value
# A second build of the same version is the same product: it must not add an entry beside the first.
package again "$bin/launcher.exe"
again_msi=$(sed -n 3p "$work/again.out")
check "a second build of this version installs over the first" msiexec /i "$(winepath -w "$again_msi")" /qn
check "and leaves one installed-programs entry" entry_is "$version"

# --- 2. the installed program runs ------------------------------------------------------------------------
start_window
check "the installed launcher.exe opens its window" wait_until 60 window_shown
check "its supervisor runs the connector from the installation" wait_until 60 connector_runs
old_pids="$window_pid $(supervisor_pid) $(connector_pid)"

# --- 3. upgrade while it runs ---------------------------------------------------------------------------------
# A watcher compares the installed files' change times with those before the upgrade for as long as any
# old process is alive (connector.log is the running connector's own).
files_state() { find "$dir" -type f ! -name connector.log -printf '%p %C@\n' 2>/dev/null | sort; }
watch_files() {
  local pid
  while :; do
    for pid in $old_pids; do alive "$pid" && break; pid=""; done
    [[ -n "$pid" ]] || { echo "stopped first"; return; }
    [[ "$(files_state)" == "$before" ]] || { echo "files changed while process $pid ran"; return; }
    sleep 0.05
  done
}
before=$(files_state)
watch_files >"$work/watch.out" &
watcher=$!
check "msiexec /i /qn of the next version upgrades" msiexec /i "$(winepath -w "$new_msi")" /qn /l*v "$(log_of upgrade)"
wait_until 10 ended "$watcher"
kill "$watcher" 2>/dev/null
wait "$watcher"
check "window, supervisor and connector ended before any installed file changed" \
  test "$(cat "$work/watch.out")" == "stopped first"
check "the installation holds exactly the files of the new version" same_files "$new_layout"
check "one installed-programs entry, of the new version" entry_is "$next"
check "the upgrade starts the new supervisor, which runs the connector" wait_until 60 connector_runs
new_processes() { [[ " $old_pids " != *" $(supervisor_pid) "* && " $old_pids " != *" $(connector_pid) "* ]]; }
check "the supervisor and connector are new processes" new_processes

# --- 4. downgrade refused ------------------------------------------------------------------------------------------
running="$(supervisor_pid) $(connector_pid)"
refused() { ! msiexec "$@"; }
unchanged() { same_files "$new_layout" && entry_is "$next" && [[ "$running" == "$(supervisor_pid) $(connector_pid)" ]]; }
check "msiexec /i of the older version fails" refused /i "$(winepath -w "$old_msi")" /qn
check "and changes nothing: files, entry, processes" unchanged

# --- 5. the stop shortcut while everything runs -------------------------------------------------------------------
start_window
check "the window opens" wait_until 60 window_shown
check "its supervisor runs the connector" wait_until 60 connector_runs
stop_pids="$window_pid $(supervisor_pid) $(connector_pid)"
all_ended() { local pid; for pid in $stop_pids; do ended "$pid" || return 1; done; }
check "opening 停止 $product starts it" open_shortcut "$stop_shortcut"
check "window, supervisor and connector end" wait_until 30 all_ended
check "and nothing is left running" no_processes_left

# --- 6. removal while it runs ------------------------------------------------------------------------------------
start_window
check "the window opens again" wait_until 60 window_shown
check "msiexec /x /qn removes" msiexec /x "$(winepath -w "$new_msi")" /qn
check "no launcher.exe or node.exe is left" no_processes_left
check "no file is left, connector.log and the folder included" test ! -e "$dir"
check "the shortcut is gone" test ! -e "$shortcut"
check "the stop shortcut is gone" test ! -e "$stop_shortcut"
check "the installed-programs entry is gone" no_entry
check "the product's icon and registration are gone" test -z "$(product_icon)"

# --- 7. start at logon --------------------------------------------------------------------------------------------
check "msiexec /i /qn AUTOSTART=1 installs" msiexec /i "$(winepath -w "$old_msi")" /qn AUTOSTART=1
check "the Run value starts the installed launcher.exe in the background" \
  test "$(run_value)" == "\"$dir_win\\launcher.exe\" --background"
check "an upgrade keeps it" msiexec /i "$(winepath -w "$new_msi")" /qn
check "the Run value is still there" test "$(run_value)" == "\"$dir_win\\launcher.exe\" --background"
check "msiexec /x /qn removes" msiexec /x "$(winepath -w "$new_msi")" /qn
check "the Run value is gone" no_run_value
nothing_left() { no_processes_left && [[ ! -e "$dir" ]] && no_entry; }
check "nothing is left running or installed" nothing_left

cleanup
trap - EXIT
checks_end installer
