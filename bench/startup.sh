#!/usr/bin/env bash
# What the launcher itself costs before and after Java: the native launcher starting the
# recording Java stand-in and waiting for it (A), against the stand-in alone (B). A-B is
# the launcher's own work.
#   bench/startup.sh [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
cmake --preset native >/dev/null
cmake --build --preset native >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/jre/bin" "$work/temp" "$work/registry/HKEY_LOCAL_MACHINE/SOFTWARE" "$work/medium"
cp build/native/tests/fake_java "$work/jre/bin/java"
cp build/native/setup "$work/medium/"
cp -r build/native/resource "$work/medium/"
printf '[Zorvex]\nJRE_LOCATION=%s\n' "$work/jre" > "$work/medium/zorparam.ini"

env="ZORVEX_REGISTRY='$work/registry' TEMP='$work/temp'"
echo "The launcher with the Java stand-in (A) against the stand-in alone (B)."
build/native/bench/bench_pair --rounds "$rounds" --runs 50 \
  "cd '$work/medium' && $env ./setup -silent -noconsole" \
  "cd '$work/medium' && $env '$work/jre/bin/java' -silent -noconsole"
