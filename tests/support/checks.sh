# Sourced by the test scripts that bash runs on Linux around Wine (tests/e2e, tests/installer): checks
# printed one a line, waiting for a condition, the caller's Wine environment (or one of the script's own)
# and the process checks built on scripts/wine-env.sh's scan of this prefix's processes.
#   source checks.sh <repository> <build root>
# Call checks_end last: it stops an own Wine environment and turns the count of failed checks into the
# exit code.

checks_repo=$1
checks_root=$2

# The caller's WINEPREFIX and DISPLAY (scripts/test.sh exports them with a running wineserver), else an
# environment of the script's own in the build tree.
checks_own_env=0
if [[ -n "${WINEPREFIX:-}" && -n "${DISPLAY:-}" ]]; then
  export WINE_ENV_PREFIX="$WINEPREFIX"
else
  export WINE_ENV_PREFIX="$checks_root/wineprefix"
  checks_own_env=1
fi
# shellcheck source=../../scripts/wine-env.sh
source "$checks_repo/scripts/wine-env.sh"
if ((checks_own_env)); then
  wine_env_start || exit 1
fi

passed=0
failed=0
check() {   # check <description> <command...>
  local what=$1; shift
  if "$@"; then passed=$((passed + 1)); echo "ok - $what"
  else failed=$((failed + 1)); echo "not ok - $what"; fi
}
note() { echo "# $*"; }

checks_end() {   # checks_end <name>
  ((checks_own_env)) && wine_env_stop
  echo "$1: $passed passed, $failed failed"
  ((failed == 0))
}

wait_until() {   # wait_until <seconds> <predicate...>: tests the predicate again until it holds
  local until=$((SECONDS + $1)); shift
  until "$@"; do
    ((SECONDS < until)) || return 1
    sleep 0.2
  done
}

# A process that has ended but is not yet reaped by its parent (a zombie) counts as ended.
alive() { local stat; stat=$(cat "/proc/$1/stat" 2>/dev/null) && [[ "${stat##*) }" != Z* ]]; }
ended() { ! alive "$1"; }

pid_of() { wine_env_processes | grep -i -F -- "$1" | head -n 1 | cut -d' ' -f1; }   # pid_of <text of the command line>
no_processes_running() { [[ -z "$(wine_env_processes)" ]]; }
no_processes_left() {   # no launcher.exe or node.exe of this prefix within 10 s; lists what is left
  wait_until 10 no_processes_running && return 0
  wine_env_processes | sed 's/^/# left: /'
  return 1
}

free_port() {   # a free TCP port of this machine: other prefixes' connectors share the loopback interface
  node -e 'const s=require("net").createServer().listen(0,"127.0.0.1",()=>{console.log(s.address().port);s.close();})'
}

connector_answers() {   # connector_answers <port>: GET /api/connector/desktop answers 200, or 401 without the secret
  node -e '
    const req = require("node:http").get({ host: "127.0.0.1", port: Number(process.argv[1]),
      path: "/api/connector/desktop", agent: false, timeout: 3000 },
      (res) => process.exit(res.statusCode === 200 || res.statusCode === 401 ? 0 : 1));
    req.on("timeout", () => req.destroy()); req.on("error", () => process.exit(1));
  ' "$1"
}
