#!/usr/bin/env bash
# The build directories' record of what they were built with (scripts/presets.sh): the same
# versions keep a build directory, another version of any package starts it afresh and
# says so, and a directory without a record is left to its own configure.
set -euo pipefail
source "$(dirname "$0")/../scripts/presets.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAILED: $*"; exit 1; }

# The host's libraries are named by its architecture: the arm64 twins the full install adds
# beside them must not start the host's builds afresh.
for p in libssl-dev zlib1g-dev libc6-dev; do
  [[ " $(preset_packages native) " == *" $p:$(dpkg --print-architecture) "* ]] ||
    fail "native does not name $p by the host's architecture"
done

versions="g++-12:amd64=12.2.0-14
libssl-dev:amd64=3.0.19-1"
preset_fingerprint() { echo "$versions"; }

mkdir -p build/native
touch build/native/object.o
preset_fresh native
[ -f build/native/object.o ] || fail "a directory without a record was removed"

preset_fingerprint native >build/native/.zorvex-built-with
out=$(preset_fresh native)
[ -f build/native/object.o ] || fail "the same versions removed the build"
[ -z "$out" ] || fail "the same versions said: $out"

versions="g++-12:amd64=12.2.0-14
libssl-dev:amd64=3.0.22-1"
# Called as the test command calls it, under errexit and pipefail (a command substitution
# would not carry errexit into the function).
preset_fresh native >said.txt
out=$(cat said.txt)
[ ! -e build/native ] || fail "another library version kept the build"
case $out in
  *"build/native was built with other compilers or libraries"*"libssl-dev:amd64=3.0.22-1"*) ;;
  *) fail "the fresh build was not said, or not why: $out" ;;
esac
echo "presets: the record keeps, and renews, build directories as it should"
