#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when they are missing.
# Safe to run again: it asks apt only for what dpkg does not already have.
set -euo pipefail

packages=(
  cmake make ninja-build
  mingw-w64 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64
  xvfb xauth x11-utils
  imagemagick zbar-tools zip
  chromium
  wixl msitools icoutils osslsigncode openssl
  fonts-wqy-microhei
  googletest libgtest-dev libbenchmark-dev
  clang libclang-rt-14-dev
  nodejs npm
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# The machine's own Node.js may come from elsewhere than Debian; keep it when it is there.
if command -v node >/dev/null 2>&1 && command -v npm >/dev/null 2>&1; then
  filtered=()
  for p in "${missing[@]}"; do
    [[ "$p" == nodejs || "$p" == npm ]] || filtered+=("$p")
  done
  missing=("${filtered[@]}")
fi

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  SUDO=""
  [[ $(id -u) -eq 0 ]] || SUDO=sudo
  # Wait for another apt run (a second checkout's set-up, the system's own) instead of failing on its lock.
  lock=(-o DPkg::Lock::Timeout=900)
  $SUDO apt-get "${lock[@]}" update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get "${lock[@]}" install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
