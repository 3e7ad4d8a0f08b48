#!/usr/bin/env bash
# Installs what building and testing the launcher needs on a fresh Debian 12 machine:
# compilers, CMake and Ninja, GoogleTest sources, MinGW-w64 and Wine for the Windows
# target (and a virtual X display for its message box), clang with libFuzzer, the JDK for
# the demo installer, zip/unzip, and the
# locales the language tests start Wine with. Safe to run again.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
  g++ cmake ninja-build googletest
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64
  clang libclang-rt-14-dev
  openjdk-17-jdk-headless zip unzip ansible-core osslsigncode openssl
  libdeflate-dev zlib1g-dev libz-mingw-w64-dev libssl-dev
  locales xvfb
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y "${missing[@]}"
fi

# Wine takes the user's language from the Unix locale, which must exist for it to count.
for loc in de_DE.UTF-8 ja_JP.UTF-8 es_MX.UTF-8 it_IT.UTF-8 ko_KR.UTF-8 pt_BR.UTF-8 pt_PT.UTF-8 \
    zh_TW.UTF-8; do
  if ! locale -a 2>/dev/null | grep -qi "^${loc%.UTF-8}.utf8$"; then
    $SUDO sed -i "s/^# *${loc} UTF-8/${loc} UTF-8/" /etc/locale.gen
    grep -q "^${loc} UTF-8" /etc/locale.gen || echo "${loc} UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
    need_gen=1
  fi
done
if [ "${need_gen:-0}" = 1 ]; then $SUDO locale-gen >/dev/null; fi
