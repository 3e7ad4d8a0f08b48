#!/usr/bin/env bash
# Staging on the file systems that share blocks, and on those that do not: for each of
# XFS (with reflink), Btrfs, ext4 and tmpfs, made as loop file systems when run as root
# (or only BENCH_DIR, as it is, when that is set), the stored demo medium is put there and
#   (a) the whole waited run (checks, verified staging, Java and the demo installer, the
#       removal of the scratch directory) against the same JVM started directly on a
#       runtime staged beforehand;
#   (b) staging alone (-bootstrapOnly) against cp -r --reflink=never of the staged tree;
# interleaved round by round, each run's copies removed (untimed) before the next; then the
# space one staging adds to the file system (df after sync) and the launcher's own CPU
# time on a verified staging. Everything made is removed at the end.
# BENCH_BUILD_DIR names another build whose tool, launcher and unzip make the medium (an
# earlier version's, for figures before and after).
#   sudo bench/zero_copy.sh [ROUNDS]          (xfsprogs and btrfs-progs installed)
#   BENCH_DIR=DIR bench/zero_copy.sh [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-10}
cmake --preset native >/dev/null
cmake --build --preset native --target setup unzip zorvex-medium bench_pair >/dev/null
pair=$PWD/build/native/bench/bench_pair
medium=$(mktemp -d)
mounts=()
cleanup() {
  for m in ${mounts[@]+"${mounts[@]}"}; do umount "$m" 2>/dev/null || true; rm -rf "$m" "$m.img"; done
  rm -rf "$medium"
}
trap cleanup EXIT
build=$(realpath "${BENCH_BUILD_DIR:-build/native}")
bash scripts/make-demo-medium.sh "$build" "$medium/m" >/dev/null

places=()
if [ -n "${BENCH_DIR:-}" ]; then
  places=("$BENCH_DIR")
elif [ "$(id -u)" = 0 ]; then
  for fs in xfs btrfs ext4 tmpfs; do
    m=$(mktemp -d -p /mnt zorvex-bench-$fs.XXXXXX)
    mounts+=("$m")
    if [ "$fs" = tmpfs ]; then
      mount -t tmpfs -o size=1G tmpfs "$m"
    else
      truncate -s 2G "$m.img"
      case $fs in
        xfs) mkfs.xfs -q -m reflink=1 "$m.img" ;;
        btrfs) mkfs.btrfs -q "$m.img" ;;
        ext4) mkfs.ext4 -q "$m.img" ;;
      esac
      mount -o loop "$m.img" "$m"
    fi
    places+=("$m")
  done
else
  echo "Run as root (to make loop file systems) or give BENCH_DIR." >&2
  exit 2
fi

for place in "${places[@]}"; do
  fs=$(findmnt -no FSTYPE --target "$place")
  work=$place/bench
  rm -rf "$work"
  mkdir -p "$work/out" "$work/temp" "$work/registry/HKEY_LOCAL_MACHINE/SOFTWARE"
  cp -r "$medium/m" "$work/m"
  disk=$work/m/Disk1
  env_="ZORVEX_REGISTRY=$work/registry TEMP=$work/temp"
  (cd "$disk" && env $env_ ./setup -bootstrapOnly -noconsole BOOTSTRAP_LOC="$work/staged" >/dev/null)
  java=$(ls -d "$work"/staged/jre/*/bin/java)
  classes="$work/staged/zek/jlib/zorinstaller.jar:$work/staged/zek/jlib/zorcore.jar"
  echo
  echo "== $fs ($place): the whole waited run (A) against Java alone on a staged runtime (B)"
  "$pair" --rounds "$rounds" --runs 3 \
    "cd $disk && $env_ ./setup -silent -waitForCompletion" \
    "cd $work/temp && $java -Xms16m -Xmx128m -cp $classes zorvex.admkit.qii.qiic.QiicInstaller -silent"
  echo
  echo "== $fs: staging (A) against cp -r --reflink=never of the staged tree (B)"
  "$pair" --rounds "$rounds" --runs 3 --after "rm -rf $work/out/*" \
    "cd $disk && $env_ ./setup -bootstrapOnly -noconsole BOOTSTRAP_LOC=\$(mktemp -u -p $work/out)" \
    "cp -r --reflink=never $work/staged \$(mktemp -u -p $work/out)"
  sync
  before=$(df -k --output=used "$place" | tail -1)
  (cd "$disk" && env $env_ ./setup -bootstrapOnly -noconsole BOOTSTRAP_LOC="$work/out/once" >/dev/null)
  sync
  after=$(df -k --output=used "$place" | tail -1)
  echo "$fs: one staging of the demo medium adds $((after - before)) KiB" \
       "(the staged tree holds $(du -sk --apparent-size "$work/out/once" | cut -f1) KiB)"
  # The launcher's own CPU: a staging's, less its unzip runs' (the children it waited for).
  rm -rf "$work/out/once"
  perf=$( { cd "$disk" && env $env_ /usr/bin/time -f '%U %S' ./setup -bootstrapOnly -noconsole \
           BOOTSTRAP_LOC="$work/out/once" >/dev/null; } 2>&1 | tail -1)
  echo "$fs: one staging, setup with the unzip runs it waits for, user and system seconds: $perf"
  rm -rf "$work"
done
