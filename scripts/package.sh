#!/usr/bin/env bash
# Lays out the installation directory that a Windows user unpacks and runs, and packs it as a ZIP:
#   <root>/install/TovixMobileConnector/
#     launcher.exe
#     runtime/node.exe          the pinned Windows Node.js (fetch-node-runtime.sh)
#     app/connector.js          the reference connector with lib/, public/ and its production node_modules
#   <root>/TovixMobileConnector.zip
# Expects launcher.exe already built, by default in <root>/win/bin (scripts/test.sh and scripts/run.sh
# build it there).
#   package.sh [BUILD_ROOT [LAUNCHER_EXE]]   (default: build) -> prints the installation directory, then the
#                                            ZIP path
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
root=${1:-${BUILD_ROOT:-$here/build}}
mkdir -p "$root"
root=$(cd "$root" && pwd)

exe=${2:-$root/win/bin/launcher.exe}
[[ -f "$exe" ]] || { echo "missing $exe: build the Windows executable first" >&2; exit 1; }
node_exe=$(bash "$here/scripts/fetch-node-runtime.sh" "$root" | tail -n 1)

name=TovixMobileConnector
install="$root/install/$name"
rm -rf "$root/install/$name"
mkdir -p "$install/runtime" "$install/app"
cp "$exe" "$install/launcher.exe"
cp "$node_exe" "$install/runtime/node.exe"
cp -r "$here/app/connector.js" "$here/app/lib" "$here/app/public" "$here/app/package.json" \
  "$here/app/package-lock.json" "$install/app/"
# The exact modules of the lockfile, without development packages or install scripts.
(cd "$install/app" && npm ci --omit=dev --ignore-scripts --no-audit --no-fund --loglevel=error >/dev/null)

zip="$root/$name.zip"
rm -f "$zip"
if command -v zip >/dev/null 2>&1; then
  (cd "$root/install" && zip -qr -X "$zip" "$name")
else
  (cd "$root/install" && python3 -m zipfile -c "$zip" "$name")
fi
echo "$install"
echo "$zip"
