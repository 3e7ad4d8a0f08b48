#!/usr/bin/env bash
# The medium's unzip (A) against Info-ZIP's (B), side by side, on (a) the archive of a
# jlink runtime (one large file dominates), (b) a jar of several thousand class files
# taken from the JDK's own modules, (c) the jars of a medium's components when a medium
# directory is given; in memory (/dev/shm) and on disk (${TMPDIR:-/tmp}), or only in
# BENCH_DIR when it is set. Each run unpacks into a fresh directory; all are removed at
# the end.
#   [BENCH_DIR=DIR] bench/unzip.sh [ROUNDS] [MEDIUM_COMPONENTS_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
components=${2:-}
cmake --preset native >/dev/null
cmake --build --preset native >/dev/null
ours=$PWD/build/native/unzip
java_home=$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")

# The archives are made once, in memory; each place gets its own output directory, and
# each run a fresh directory in it (a mass delete slows file creation on these VMs for
# minutes, so everything is removed only at the end).
src=$(mktemp -d -p /dev/shm)
places=("${BENCH_DIR:-/dev/shm}")
[ -z "${BENCH_DIR:-}" ] && places+=("${TMPDIR:-/tmp}")
outs=()
trap 'rm -rf "$src" "${outs[@]}"' EXIT
"$java_home/bin/jlink" --add-modules java.base,java.logging,java.xml --strip-debug \
  --no-header-files --no-man-pages --output "$src/runtime"
(cd "$src/runtime" && zip -qry "$src/runtime.zip" .)
"$java_home/bin/jimage" extract --dir "$src/classes" --include 'regex:/java.base/java/.*' \
  "$java_home/lib/modules"
(cd "$src/classes/java.base" && "$java_home/bin/jar" cf "$src/classes.jar" .)

compare() {  # PLACE NAME ARCHIVE-OR-PATTERN
  echo
  echo "== $2 in $1: $(du -sh --apparent-size $3 2>/dev/null | tail -1 | cut -f1) of archives"
  build/native/bench/bench_pair --rounds "$rounds" --runs 3 \
    "$ours -qqqo $3 -d \$(mktemp -d -p $out)" \
    "unzip -qqqo $3 -d \$(mktemp -d -p $out)"
}
for place in "${places[@]}"; do
  out=$(mktemp -d -p "$place")
  outs+=("$out")
  compare "$place" "jlink runtime" "$src/runtime.zip"
  compare "$place" "jar of $(unzip -l "$src/classes.jar" | tail -1 | awk '{print $2}') classes" \
    "$src/classes.jar"
  if [ -n "$components" ]; then
    compare "$place" "medium components" "'$components'/\"*.jar\""
  fi
done
