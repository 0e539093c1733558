#!/usr/bin/env bash
# Lays out the installation directory that a Windows user gets, and packs it twice: as a ZIP to unpack
# anywhere and as a per-user MSI that installs, upgrades and removes it (installer/build-msi.sh):
#   <out>/install/TovixMobileConnector/
#     launcher.exe
#     runtime/node.exe          the pinned Windows Node.js (fetch-node-runtime.sh)
#     app/connector.js          the reference connector with lib/, public/ and its production node_modules
#   <out>/TovixMobileConnector-<version>.zip
#   <out>/TovixMobileConnector-<version>.msi
# The version is the one launcher.exe carries in its version information (the CMake project version), so
# the executable, the MSI and the file names always agree. Expects launcher.exe already built, by default in
# <root>/win/bin (scripts/test.sh and scripts/run.sh build it there).
#   package.sh [BUILD_ROOT [LAUNCHER_EXE [OUT_DIR]]]   (default: build, its launcher.exe, BUILD_ROOT)
#     -> prints the installation directory, the ZIP path and the MSI path, one a line
#   SIGN_PKCS12=file.p12 SIGN_PASSWORD=...   sign launcher.exe and the MSI with that code-signing
#     certificate (Authenticode, no timestamp); without them the packages are unsigned (said on stderr)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
root=${1:-${BUILD_ROOT:-$here/build}}
mkdir -p "$root"
root=$(cd "$root" && pwd)
exe=${2:-$root/win/bin/launcher.exe}
out=${3:-$root}
mkdir -p "$out"
out=$(cd "$out" && pwd)

[[ -f "$exe" ]] || { echo "missing $exe: build the Windows executable first" >&2; exit 1; }

# "major.minor.patch" from the fixed part of the version resource (type 16): its signature 0xFEEF04BD sits
# at byte 40, the product version's two 32-bit halves at bytes 56 and 60, as 16-bit words low part first.
version_of() {
  local w
  read -r -a w < <(wrestool -x --raw --type=16 "$1" 2>/dev/null | od -An -tu2 -j40 -N24 -v | tr '\n' ' ')
  [[ "${w[0]:-}" == 1213 && "${w[1]:-}" == 65263 ]] || return 1
  echo "${w[9]}.${w[8]}.${w[11]}"
}
version=$(version_of "$exe") || { echo "$exe has no version information" >&2; exit 1; }

sign() {   # sign <file>: an Authenticode signature in place, or nothing without a certificate
  [[ -n "${SIGN_PKCS12:-}" ]] || return 0
  osslsigncode sign -pkcs12 "$SIGN_PKCS12" -pass "${SIGN_PASSWORD:-}" -h sha256 -n "Tovix 随行连接器" \
    -in "$1" -out "$1.signed" >/dev/null
  mv "$1.signed" "$1"
}
if [[ -z "${SIGN_PKCS12:-}" ]]; then
  echo "unsigned: set SIGN_PKCS12 (and SIGN_PASSWORD) to a code-signing certificate to sign launcher.exe and the MSI" >&2
fi

node_exe=$(bash "$here/scripts/fetch-node-runtime.sh" "$root" | tail -n 1)

name=TovixMobileConnector
install="$out/install/$name"
rm -rf "$install"
mkdir -p "$install/runtime" "$install/app"
cp "$exe" "$install/launcher.exe"
sign "$install/launcher.exe"
cp "$node_exe" "$install/runtime/node.exe"
cp -r "$here/app/connector.js" "$here/app/lib" "$here/app/public" "$here/app/package.json" \
  "$here/app/package-lock.json" "$install/app/"
# The exact modules of the lockfile, without development packages, install scripts or the symbolic links
# of node_modules/.bin (which neither a ZIP nor an MSI carries as links, and the connector does not use).
(cd "$install/app" && npm ci --omit=dev --ignore-scripts --no-bin-links --no-audit --no-fund --loglevel=error >/dev/null)

zip="$out/$name-$version.zip"
rm -f "$zip"
if command -v zip >/dev/null 2>&1; then
  (cd "$out/install" && zip -qr -X "$zip" "$name")
else
  (cd "$out/install" && python3 -m zipfile -c "$zip" "$name")
fi

msi="$out/$name-$version.msi"
bash "$here/installer/build-msi.sh" "$install" "$version" "$msi"
sign "$msi"

echo "$install"
echo "$zip"
echo "$msi"
