#!/usr/bin/env bash
# The time from starting setup to the installer, side by side with what bounds it, for the
# demo medium with its components deflated (as built by default) and stored (--store):
#   (a) the whole waited run (checks, staging, Java and the demo installer, the removal of
#       the scratch directory) against the same JVM and class path started directly on a
#       runtime staged beforehand;
#   (b) staging alone (-bootstrapOnly) against cp -r of the staged tree;
#   (c) the medium's unzip on the runtime's jar against cp -r of the runtime it holds, and
#       against Info-ZIP's unzip on the same jar;
# in memory (/dev/shm) and on disk (${TMPDIR:-/tmp}), or only in BENCH_DIR when it is set.
# Each run writes into a fresh directory; everything is removed at the end. The media carry
# the launcher and unzip of BENCH_LAUNCHER_DIR (default build/native): another build's, to
# compare two versions.
#   [BENCH_DIR=DIR] [BENCH_LAUNCHER_DIR=DIR] bench/time_to_installer.sh [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
cmake --preset native >/dev/null
cmake --build --preset native --target setup unzip zorvex-medium bench_pair >/dev/null
pair=$PWD/build/native/bench/bench_pair
places=("${BENCH_DIR:-/dev/shm}")
[ -z "${BENCH_DIR:-}" ] && places+=("${TMPDIR:-/tmp}")
works=()
trap 'rm -rf "${works[@]}"' EXIT
all=zorvex.swd.jre,zorvex.swd.zek,zorvex.swd.zek.core,zorvex.swd.zpatch

for place in "${places[@]}"; do
  work=$(mktemp -d -p "$place")
  works+=("$work")
  mkdir -p "$work/out" "$work/temp" "$work/registry/HKEY_LOCAL_MACHINE/SOFTWARE"
  for form in deflated stored; do
    store=""; [ "$form" = stored ] && store=$all
    ZORVEX_DEMO_STORE=$store ZORVEX_DEMO_LAUNCHER_DIR=${BENCH_LAUNCHER_DIR:-build/native} \
      bash scripts/make-demo-medium.sh build/native "$work/$form" >/dev/null
  done
  env_=(ZORVEX_REGISTRY="$work/registry" TEMP="$work/temp")
  (cd "$work/deflated/Disk1" &&
   env "${env_[@]}" ./setup -bootstrapOnly -noconsole BOOTSTRAP_LOC="$work/staged" >/dev/null)
  java=$(ls -d "$work"/staged/jre/*/bin/java)
  runtime=$(dirname "$(dirname "$java")")
  classes="$work/staged/zek/jlib/zorinstaller.jar:$work/staged/zek/jlib/zorcore.jar"
  for form in deflated stored; do
    disk=$work/$form/Disk1
    echo
    echo "== (a) $form, in $place: the whole waited run (A) against Java alone (B)"
    "$pair" --rounds "$rounds" --runs 3 \
      "cd $disk && ZORVEX_REGISTRY=$work/registry TEMP=$work/temp ./setup -silent" \
      "cd $work/temp && $java -Xms16m -Xmx128m -cp $classes zorvex.admkit.qii.qiic.QiicInstaller -silent"
    echo
    echo "== (b) $form, in $place: staging (A) against cp -r of the staged tree (B)"
    # Each round's copies are removed before the next, untimed: copies left behind fill
    # the disk and slow the later rounds of both sides. cp never shares blocks here (a
    # coreutils 9 cp clones on XFS and Btrfs, which is no copy to measure against).
    "$pair" --rounds "$rounds" --runs 3 --after "rm -rf $work/out/*" \
      "cd $disk && ZORVEX_REGISTRY=$work/registry TEMP=$work/out ./setup -bootstrapOnly -noconsole BOOTSTRAP_LOC=\$(mktemp -u -p $work/out)" \
      "cp -r --reflink=never $work/staged \$(mktemp -u -p $work/out)"
    jar=$(ls "$work/$form"/stage/Components/zorvex.swd.jre/*/1/DataFiles/*.jar)
    for against in "cp -r" "Info-ZIP's unzip"; do
      b="cp -r --reflink=never $runtime \$(mktemp -u -p $work/out)"
      [ "$against" = "cp -r" ] || b="unzip -qqqo $jar -d \$(mktemp -d -p $work/out)"
      echo
      echo "== (c) $form, in $place: the unzip on the runtime's jar (A) against $against (B)"
      "$pair" --rounds "$rounds" --runs 3 --after "rm -rf $work/out/*" \
        "$disk/unzip -qqqo $jar -d \$(mktemp -d -p $work/out)" "$b"
    done
  done
done
