#!/usr/bin/env bash
# Installs what building and testing the launcher needs on a fresh Debian 12 machine, and
# nothing more (no recommended packages: the programs below work without them). Safe to
# run again: what is there already is left alone.
#   install-deps.sh demo   what the demo needs: the native compiler, CMake, Ninja, the
#                          libraries the programs link, the JDK that makes the runtime
#   install-deps.sh        everything the tests need besides: MinGW-w64 and Wine (with a
#                          virtual X display for its message box) for the Windows target,
#                          the arm64 cross compiler, qemu-user with its binfmt_misc handler,
#                          the arm64 libraries and the arm64 JDK's jmods (in
#                          /opt/zorvex/jdk-arm64, at the host JDK's version, which jlink
#                          needs), clang with libFuzzer, zip/unzip, Ansible, osslsigncode, a
#                          software token with the PKCS#11 tools and OpenSSL engine (signing
#                          with a key in a token), GnuPG (signed Linux media), the
#                          access-list tools (a test sets one) and the locales the language
#                          tests start Wine with.
set -euo pipefail

mode=${1:-all}
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
apt_env=(env DEBIAN_FRONTEND=noninteractive)

DEMO=(g++ cmake ninja-build googletest openjdk-17-jdk-headless libdeflate-dev zlib1g-dev
      libssl-dev)
TESTS=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 libz-mingw-w64-dev xvfb
       g++-aarch64-linux-gnu qemu-user-static binfmt-support
       libdeflate-dev:arm64 zlib1g-dev:arm64 libssl-dev:arm64 libstdc++6:arm64 zlib1g:arm64
       clang libclang-rt-14-dev zip unzip ansible-core osslsigncode openssl locales acl
       softhsm2 opensc libengine-pkcs11-openssl gnupg gpgv python3)
ARM64_JDK=/opt/zorvex/jdk-arm64

packages=("${DEMO[@]}")
if [ "$mode" != demo ]; then
  packages+=("${TESTS[@]}")
  if ! dpkg --print-foreign-architectures | grep -qx arm64; then
    $SUDO dpkg --add-architecture arm64
  fi
fi

updated=0
apt_update() {
  if [ "$updated" = 0 ]; then
    echo "Updating the package lists..."
    $SUDO apt-get update -qq
    updated=1
  fi
}

# A name without an architecture is the host's (or an architecture-independent package):
# the arm64 one of the same name does not count for it.
native=$(dpkg --print-architecture)
installed() {
  if [[ $1 == *:* ]]; then
    dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -q "^install ok installed$"
  else
    dpkg-query -W -f='${Status} ${Architecture}\n' "$1" 2>/dev/null |
      grep -qE "^install ok installed ($native|all)$"
  fi
}
# Installs the packages named, without recommended ones; apt's output is shown whole only
# when it fails.
apt_install() {
  apt_update
  local log
  log=$(mktemp)
  if ! $SUDO "${apt_env[@]}" apt-get install -y -q --no-install-recommends "$@" >"$log" 2>&1; then
    cat "$log"
    rm -f "$log"
    exit 1
  fi
  grep -E '^(Need to get|After this operation)' "$log" || true
  rm -f "$log"
}
missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing ${#missing[@]} packages: ${missing[*]}"
  apt_install "${missing[@]}"
fi
# The libraries the programs link statically have arm64 twins in the full set, and Debian
# keeps a package and its twins at one version: installing the twins brings the host's to
# theirs. Both modes bring the host's to the version the full set will want, so that a demo
# build and a test build link the same bytes (the build directories notice a change all the
# same: scripts/presets.sh).
for lib in libssl-dev zlib1g-dev libdeflate-dev; do
  have=$(dpkg-query -W -f='${Version}' "$lib:$native" 2>/dev/null || true)
  want=$(apt-cache policy "$lib:$native" | sed -n 's/^ *Candidate: //p')
  if [ -n "$have" ] && [ -n "$want" ] && [ "$want" != "(none)" ] && [ "$have" != "$want" ]; then
    echo "Bringing $lib from $have to $want, the version its arm64 twin takes"
    twin=()
    [ "$mode" != demo ] && twin=("$lib:arm64=$want")
    apt_install "$lib:$native=$want" "${twin[@]}"
  fi
done
[ "$mode" = demo ] && exit 0

# The arm64 JDK's jmods, for jlink to make an arm64 runtime: jlink takes modules of its own
# version only, so the host JDK and the arm64 one are brought to the same version.
want=$(apt-cache policy openjdk-17-jdk-headless:arm64 | sed -n 's/^ *Candidate: //p')
if [ -z "$want" ] || [ "$want" = "(none)" ]; then
  apt_update
  want=$(apt-cache policy openjdk-17-jdk-headless:arm64 | sed -n 's/^ *Candidate: //p')
fi
host=$(dpkg-query -W -f='${Version}' openjdk-17-jdk-headless)
if [ "$host" != "$want" ]; then
  echo "Bringing the host JDK from $host to $want, the arm64 JDK's version"
  apt_install "openjdk-17-jdk-headless=$want" "openjdk-17-jre-headless=$want"
fi
if [ "$(cat "$ARM64_JDK.version" 2>/dev/null)" != "$want" ]; then
  apt_update
  echo "Unpacking the arm64 JDK $want into $ARM64_JDK"
  work=$(mktemp -d)
  chmod 755 "$work"  # apt's download user writes there
  if ! (cd "$work" && apt-get download -q "openjdk-17-jdk-headless:arm64=$want" \
       "openjdk-17-jre-headless:arm64=$want" >"$work/download.log" 2>&1); then
    cat "$work/download.log" >&2
    echo "error: the arm64 JDK $want cannot be downloaded; $ARM64_JDK is left as it was" >&2
    exit 1
  fi
  for deb in "$work"/*.deb; do dpkg -x "$deb" "$work/root"; done
  $SUDO mkdir -p "$(dirname "$ARM64_JDK")"
  $SUDO rm -rf "$ARM64_JDK"
  $SUDO mv "$work/root/usr/lib/jvm/java-17-openjdk-arm64" "$ARM64_JDK"
  echo "$want" | $SUDO tee "$ARM64_JDK.version" >/dev/null
  rm -rf "$work"
fi

# arm64 programs run under qemu-user, which the kernel starts for them once binfmt_misc is
# mounted and the handler registered.
if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
  $SUDO mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc ||
    echo "warning: binfmt_misc cannot be mounted: arm64 programs will not run here" >&2
fi
if [ -e /proc/sys/fs/binfmt_misc/register ] && [ ! -e /proc/sys/fs/binfmt_misc/qemu-aarch64 ]; then
  $SUDO update-binfmts --enable qemu-aarch64 ||
    echo "warning: the arm64 handler cannot be registered" >&2
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

# The CycloneDX project's own library and its JSON-schema validator, at fixed versions, for
# the test that validates a medium's bill of materials (a test dependency only).
CYCLONEDX=/opt/zorvex/cyclonedx
CYCLONEDX_PACKAGES="@cyclonedx/cyclonedx-library@10.3.0 ajv@8.20.0 ajv-formats@3.0.1 ajv-formats-draft2019@1.6.1"
if [ "$(cat "$CYCLONEDX.version" 2>/dev/null)" != "$CYCLONEDX_PACKAGES" ]; then
  command -v npm >/dev/null || apt_install nodejs npm
  echo "Installing the CycloneDX validator into $CYCLONEDX"
  $SUDO rm -rf "$CYCLONEDX"
  $SUDO mkdir -p "$CYCLONEDX"
  log=$(mktemp)
  # shellcheck disable=SC2086  # the packages are words
  if ! $SUDO npm install --no-audit --no-fund --prefix "$CYCLONEDX" $CYCLONEDX_PACKAGES >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    echo "error: the CycloneDX validator cannot be installed" >&2
    exit 1
  fi
  rm -f "$log"
  echo "$CYCLONEDX_PACKAGES" | $SUDO tee "$CYCLONEDX.version" >/dev/null
fi
