#!/usr/bin/env bash
# What verifying a medium costs: the launcher staging the demo medium with -bootstrapOnly
# as built, its launcher carrying the manifest's digest so that every file it takes is
# checked (A), against the same medium with the launcher straight from the build, which
# carries none and checks nothing (B). The ratio A/B is the cost of verification; the goal
# is at most 1.10.
#   [BENCH_DIR=/dev/shm] bench/verify.sh [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
cmake --preset native >/dev/null
cmake --build --preset native >/dev/null
work=$(mktemp -d -p "${BENCH_DIR:-${TMPDIR:-/tmp}}")
trap 'rm -rf "$work"' EXIT
bash scripts/make-demo-medium.sh build/native "$work/verified" >/dev/null
cp -a "$work/verified" "$work/unverified"
cp build/native/setup "$work/unverified/Disk1/setup"
rm "$work/unverified/Disk1/zormanifest.txt"
mkdir -p "$work/out" "$work/registry/HKEY_LOCAL_MACHINE/SOFTWARE"
run() {
  echo "cd $work/$1/Disk1 && ZORVEX_REGISTRY=$work/registry TEMP=$work/out ./setup -bootstrapOnly -noconsole BOOTSTRAP_LOC=\$(mktemp -u -p $work/out) >/dev/null"
}
echo "Staging a verified medium (A) against the same medium unverified (B)."
build/native/bench/bench_pair --rounds "$rounds" --runs 5 "$(run verified)" "$(run unverified)"
