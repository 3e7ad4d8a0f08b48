#!/usr/bin/env bash
# What a distribution-layout bootstrap costs beyond its unpacking: the launcher staging
# the demo medium with -bootstrapOnly (A) against the project's unzip unpacking the same
# component jars into one directory, one command per component (B). A-B is the
# launcher's own work (options, parameter file, checks, version selection, logs).
#   [BENCH_DIR=/dev/shm] bench/staging.sh [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
cmake --preset native >/dev/null
cmake --build --preset native >/dev/null
work=$(mktemp -d -p "${BENCH_DIR:-${TMPDIR:-/tmp}}")
trap 'rm -rf "$work"' EXIT
bash scripts/make-demo-medium.sh build/native "$work/medium" >/dev/null
mkdir -p "$work/out" "$work/registry/HKEY_LOCAL_MACHINE/SOFTWARE"
disk=$work/medium/Disk1
unzips=""
for dir in "$work"/medium/stage/Components/*/*/1/DataFiles; do
  unzips+="$disk/unzip -qqqo '$dir/*.jar' -d \$d && "
done
echo "The launcher's distribution bootstrap (A) against its unzip commands alone (B)."
build/native/bench/bench_pair --rounds "$rounds" --runs 5 \
  "cd $disk && ZORVEX_REGISTRY=$work/registry TEMP=$work/out ./setup -bootstrapOnly -noconsole BOOTSTRAP_LOC=\$(mktemp -u -p $work/out)" \
  "d=\$(mktemp -d -p $work/out) && ${unzips}true"
