#!/usr/bin/env bash
# The launcher's main job, end to end: builds the native launcher and tools, makes a
# distribution-layout demo medium with zorvex-medium build, reads it back with zorvex-medium
# check, then starts it with the given options (none by default): the launcher checks
# the machine, stages the installer and a jlink'ed Java runtime from the medium's jars with
# the project's unzip, and starts the demo installer on the staged runtime. The demo
# installer reports what it received; the launcher's exit status is Java's.
#   demo.sh [LAUNCHER OPTIONS ...]      e.g. demo.sh -silent -cleanup
#   ZORVEX_DEMO_EXIT=3 demo.sh          the demo installer ends with status 3
set -euo pipefail
cd "$(dirname "$0")/.."

began=$SECONDS
trap 'echo; echo "The demo command took $((SECONDS - began)) s."' EXIT
step() { echo "==> $* (at $((SECONDS - began)) s)"; }

step "Installing what the demo needs (scripts/install-deps.sh demo)"
bash scripts/install-deps.sh demo
step "Building setup, unzip and zorvex-medium in build/native"
source scripts/presets.sh
build_preset native setup unzip zorvex-medium
step "Making the demo medium with zorvex-medium build"
bash scripts/make-demo-medium.sh build/native build/demo/medium
echo
echo "Checking: build/native/zorvex-medium check build/demo/medium/Disk1"
build/native/zorvex-medium check build/demo/medium/Disk1 | sed 's/^/  | /'
echo

# A registry of the demo's own, so that the run needs no system-wide set-up. Its inventory
# location keeps the install log: without one the log lies in the scratch directory, which
# a run that waits for Java removes at its end.
export ZORVEX_REGISTRY=$PWD/build/demo/registry
mkdir -p "$ZORVEX_REGISTRY/HKEY_LOCAL_MACHINE/SOFTWARE/ZORVEX"
printf '%s' "$PWD/build/demo/inventory" > "$ZORVEX_REGISTRY/HKEY_LOCAL_MACHINE/SOFTWARE/ZORVEX/inst_loc"
export TEMP=$PWD/build/demo/temp
mkdir -p "$TEMP"

echo "Running: build/demo/medium/Disk1/setup $*"
set +e
start=$(date +%s%N)
build/demo/medium/Disk1/setup "$@"
status=$?
end=$(date +%s%N)
set -e
echo
echo "The launcher ended with exit status $status after $(( (end - start) / 1000000 )) ms."
log=$(ls -t build/demo/inventory/logs/*.log 2>/dev/null | head -1 || true)
if [ -n "$log" ]; then
  echo "Install log $log:"
  sed 's/^/  | /' "$log"
fi
exit $status
