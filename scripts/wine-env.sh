# Sourced by the test and run scripts: a Wine prefix of the project's own inside the build tree, an X
# server for windows, and one persistent wineserver for the whole run (a process start then costs well
# under a second instead of about three). Call wine_env_stop when done.
#   WINE_ENV_PREFIX  prefix directory (required)
#   WINE_ENV_DISPLAY use this display instead of starting Xvfb (optional)

export WINEPREFIX="$WINE_ENV_PREFIX"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

wine_env_xvfb_pid=""

# Runs a command, and everything it starts, without address space randomisation. Debian's Wine has no
# preloader to reserve the address of its shared user data (0x7ffe0000), and the kernel's randomised heap
# start sometimes lands there: the new process dies at start-up ("failed to map the shared user data:
# c0000018") and CreateProcess fails with ERROR_INTERNAL_ERROR, about once in a few thousand starts.
wine_env_norandom() {
  setarch "$(uname -m)" -R "$@"
}

wine_env_start() {
  if [[ -n "${WINE_ENV_DISPLAY:-}" ]]; then
    export DISPLAY="$WINE_ENV_DISPLAY"
  else
    local n
    for n in $(seq 90 140); do
      [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] && continue
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
      wine_env_xvfb_pid=$!
      sleep 1
      if kill -0 "$wine_env_xvfb_pid" 2>/dev/null; then
        export DISPLAY=":$n"
        break
      fi
      wine_env_xvfb_pid=""
    done
    [[ -n "$wine_env_xvfb_pid" ]] || { echo "could not start Xvfb" >&2; return 1; }
  fi

  if [[ ! -f "$WINEPREFIX/.project-ready" ]]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    # The Windows Node.js runtime refuses to start unless the prefix reports Windows 10.
    wine winecfg -v win10 >/dev/null 2>&1 || true
    # Wine has no CJK font of its own: map the faces the program and message boxes ask for.
    local face
    for face in 'Segoe UI' 'Tahoma' 'MS Shell Dlg' 'MS Shell Dlg 2' 'Microsoft Sans Serif'; do
      wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ /d 'WenQuanYi Micro Hei' /f \
        >/dev/null 2>&1 || true
    done
    wineserver -w
    touch "$WINEPREFIX/.project-ready"
  fi
  wineserver -p >/dev/null 2>&1 </dev/null
  # Wine's background services start with the first program of a session and inherit its standard
  # streams; start them here with harmless ones, or they hold ctest's output pipe open for good.
  wine_env_norandom wine cmd /c exit >/dev/null 2>&1 </dev/null
}

# "pid cmdline" of every launcher.exe and node.exe process of this prefix, read from /proc so that the
# check does not depend on Wine being able to answer.
wine_env_processes() {
  local p name
  for p in /proc/[0-9]*; do
    name=$(cat 2>/dev/null <"$p/comm") || continue
    [[ "${name,,}" == launcher.exe || "${name,,}" == node.exe ]] || continue
    tr '\0' '\n' 2>/dev/null <"$p/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
    echo "${p#/proc/} $(tr '\0' ' ' 2>/dev/null <"$p/cmdline")"
  done
}

# A process that Wine lost while it started (killed before it had told the server who it is) never ends:
# it waits for the server's answer for good, and the server, which no longer knows it, leaves it behind.
# Once the server has gone, every process of Wine's loader that still runs with this prefix is such a one.
wine_env_leftovers() {
  local p
  for p in /proc/[0-9]*; do
    [[ "$(readlink "$p/exe" 2>/dev/null)" == /usr/lib/wine/* ]] || continue
    tr '\0' '\n' 2>/dev/null <"$p/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
    echo "${p#/proc/}"
  done
}

wine_env_stop() {
  wineserver -k >/dev/null 2>&1 || true
  wine_env_leftovers | while read -r pid; do kill -KILL "$pid" 2>/dev/null; done
  if [[ -n "$wine_env_xvfb_pid" ]]; then
    kill "$wine_env_xvfb_pid" 2>/dev/null || true
    wait "$wine_env_xvfb_pid" 2>/dev/null || true
  fi
}
