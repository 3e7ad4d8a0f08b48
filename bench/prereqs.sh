#!/usr/bin/env bash
# What the prerequisite checks cost: the native launcher with a parameter file of a dozen
# checks (generic, certified version, required and optional) against the same run without
# checks, both starting the recording Java stand-in and waiting for it.
#   bench/prereqs.sh [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
cmake --preset native >/dev/null
cmake --build --preset native >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/jre/bin" "$work/temp" "$work/registry/HKEY_LOCAL_MACHINE/SOFTWARE"
cp build/native/tests/fake_java "$work/jre/bin/java"
version=$(uname -r | cut -d. -f1,2)
for medium in checks plain; do
  mkdir -p "$work/$medium"
  cp build/native/setup "$work/$medium/"
  cp -r build/native/resource "$work/$medium/"
  printf '[Zorvex]\nJRE_LOCATION=%s\n' "$work/jre" > "$work/$medium/zorparam.ini"
done
cat >> "$work/checks/zorparam.ini" <<INI
PLATFORM_PREREQS=TRUE
[Generic Prereqs]
CPU=1
CPU_FAILURE_MESSAGE=slow
SERVICE_PACK=0
SWAP_SPACE=0.5
TEMP_SPACE_FAILURE_MESSAGE=no swap
MIN_DISPLAY_COLORS=1
[Certified Versions]
Linux=4.19,5.10,$version
CERTIFIED_VERSION_FAILURE_MESSAGE=not certified
[Linux-$version-required]
CPU=2
CPU=3
SERVICE_PACK=
CPU=4
[Linux-$version-optional]
CPU=5
CPU=6
CPU_FAILURE_MESSAGE=slow
INI

run() {
  echo "cd '$work/$1' && ZORVEX_REGISTRY='$work/registry' TEMP='$work/temp' ./setup -noconsole -ignoreSysPrereqs"
}
echo "A dozen prerequisite checks (A) against none (B); Java is the recording stand-in."
build/native/bench/bench_pair --rounds "$rounds" --runs 20 "$(run checks)" "$(run plain)"
