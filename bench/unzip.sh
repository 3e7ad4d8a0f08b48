#!/usr/bin/env bash
# The medium's unzip (A) against Info-ZIP's (B), side by side, on (a) the archive of a
# jlink runtime (one large file dominates), (b) a jar of several thousand class files
# taken from the JDK's own modules, (c) the jars of a medium's components when a medium
# directory is given. Each run unpacks into a fresh directory; all are removed at the end.
#   [BENCH_DIR=/dev/shm] bench/unzip.sh [ROUNDS] [MEDIUM_COMPONENTS_DIR]
# On these shared machines the disk slows for minutes after mass deletes; BENCH_DIR on a
# memory file system compares the programs' own work.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
components=${2:-}
cmake --preset native >/dev/null
cmake --build --preset native >/dev/null
ours=$PWD/build/native/unzip
java_home=$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")

work=$(mktemp -d -p "${BENCH_DIR:-${TMPDIR:-/tmp}}")
trap 'rm -rf "$work"' EXIT
"$java_home/bin/jlink" --add-modules java.base,java.logging,java.xml --strip-debug \
  --no-header-files --no-man-pages --output "$work/runtime"
(cd "$work/runtime" && zip -qry "$work/runtime.zip" .)
"$java_home/bin/jimage" extract --dir "$work/classes" --include 'regex:/java.base/java/.*' \
  "$java_home/lib/modules"
(cd "$work/classes/java.base" && "$java_home/bin/jar" cf "$work/classes.jar" .)
mkdir -p "$work/out"

compare() {  # NAME ARCHIVE-OR-PATTERN
  echo
  echo "== $1: $(du -sh --apparent-size $2 2>/dev/null | tail -1 | cut -f1) of archives"
  build/native/bench/bench_pair --rounds "$rounds" --runs 3 \
    "$ours -qqqo $2 -d \$(mktemp -d -p $work/out)" \
    "unzip -qqqo $2 -d \$(mktemp -d -p $work/out)"
}
compare "jlink runtime" "$work/runtime.zip"
compare "jar of $(unzip -l "$work/classes.jar" | tail -1 | awk '{print $2}') classes" "$work/classes.jar"
if [ -n "$components" ]; then
  compare "medium components" "'$components'/\"*.jar\""
fi
