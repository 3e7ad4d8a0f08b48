#!/usr/bin/env bash
# Builds the shipped programs a second time from the same commit in another directory and
# compares their bytes with those of build/native and build/windows: setup, unzip,
# zorvex-medium, their .exe twins, the debug files kept beside setup and unzip, and the
# catalogues. Exit status 1 when any differs.
#   scripts/check-reproducible.sh   (after the two presets were built)
set -euo pipefail
cd "$(dirname "$0")/.."
# The first build must be of what is installed now: a build directory left from before a
# package change is stale, which is no fault of the build's reproducibility.
source scripts/presets.sh
for preset in native windows; do
  if [ "$(preset_fingerprint "$preset")" != "$(cat "build/$preset/.zorvex-built-with" 2>/dev/null)" ]; then
    echo "build/$preset was not built with the compilers and libraries installed now:" \
         "build it (scripts/test.sh does) before comparing." >&2
    exit 2
  fi
done
copy=$(mktemp -d -p "${TMPDIR:-/tmp}" zorvex-repro.XXXXXX)
trap 'rm -rf "$copy"' EXIT
git ls-files -z | xargs -0 cp --parents -t "$copy"
targets=(setup unzip zorvex-medium catalogues)
for preset in native windows; do
  (cd "$copy" && cmake --preset "$preset" -DZORVEX_TESTS=OFF >/dev/null &&
   cmake --build --preset "$preset" --target "${targets[@]}" >/dev/null)
done
status=0
for preset in native windows; do
  ext=""
  [ "$preset" = windows ] && ext=.exe
  for file in "setup$ext" "unzip$ext" "zorvex-medium$ext" "setup$ext.debug" "unzip$ext.debug" \
      $(cd "build/$preset" && ls resource/cons*.nls); do
    a=$(sha256sum "build/$preset/$file" | cut -d' ' -f1)
    b=$(sha256sum "$copy/build/$preset/$file" | cut -d' ' -f1)
    if [ "$a" = "$b" ]; then
      echo "same      $a  $preset/$file"
    else
      echo "DIFFERENT $a  $preset/$file (the second build: $b)"
      status=1
    fi
  done
done
exit $status
