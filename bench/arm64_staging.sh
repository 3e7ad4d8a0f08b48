#!/usr/bin/env bash
# The arm64 port's staging under qemu-user against the x86-64 launcher's, side by side: the
# demo medium made for linux-arm64 (its launcher and unzip run under qemu, as binfmt_misc
# starts them) staged with -bootstrapOnly (A) against the same demo medium for x86-64 (B).
# Needs the linux-arm64 preset and the arm64 JDK's jmods (scripts/install-deps.sh).
#   [BENCH_DIR=/dev/shm] [ZORVEX_ARM64_JMODS=DIR] bench/arm64_staging.sh [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
for preset in native linux-arm64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done
work=$(mktemp -d -p "${BENCH_DIR:-${TMPDIR:-/tmp}}")
trap 'rm -rf "$work"' EXIT
bash scripts/make-demo-medium.sh build/native "$work/x86-64" >/dev/null
ZORVEX_DEMO_LAUNCHER_DIR=build/linux-arm64 ZORVEX_DEMO_TARGET=linux-arm64 \
  ZORVEX_DEMO_JMODS=${ZORVEX_ARM64_JMODS:-/opt/zorvex/jdk-arm64/jmods} \
  bash scripts/make-demo-medium.sh build/native "$work/arm64" >/dev/null
mkdir -p "$work/out" "$work/registry/HKEY_LOCAL_MACHINE/SOFTWARE"
stage() {
  echo "cd $work/$1/Disk1 && ZORVEX_REGISTRY=$work/registry TEMP=$work/out ./setup" \
    "-bootstrapOnly -noconsole BOOTSTRAP_LOC=\$(mktemp -u -p $work/out)"
}
echo "Staging the arm64 demo medium under qemu (A) against the x86-64 one (B)."
build/native/bench/bench_pair --rounds "$rounds" --runs 5 "$(stage arm64)" "$(stage x86-64)"
