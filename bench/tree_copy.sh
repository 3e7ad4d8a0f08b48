#!/usr/bin/env bash
# The launcher's CopyTree and RemoveTree (A) against cp -r and rm -rf (B), side by side, on
# a jlink runtime image, on the full JDK and on a tree of several thousand small files.
# Each copy goes to a fresh directory, each removal removes a fresh copy.
#   [BENCH_DIR=/dev/shm] bench/tree_copy.sh [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
cmake --preset native >/dev/null
cmake --build --preset native >/dev/null
tool=$PWD/build/native/bench/tree_ops_bench
pair=$PWD/build/native/bench/bench_pair
java_home=$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")

work=$(mktemp -d -p "${BENCH_DIR:-${TMPDIR:-/tmp}}")
trap 'rm -rf "$work"' EXIT
"$java_home/bin/jlink" --add-modules java.base,java.logging,java.xml --strip-debug \
  --no-header-files --no-man-pages --output "$work/runtime"
mkdir -p "$work/small"
for d in $(seq 1 60); do
  mkdir -p "$work/small/d$d"
  for f in $(seq 1 80); do printf 'file %s %s\n' "$d" "$f" > "$work/small/d$d/f$f.txt"; done
done
mkdir -p "$work/out"

for tree in "jlink runtime:$work/runtime" "full JDK:$java_home" "4800 small files:$work/small"; do
  name=${tree%%:*}
  src=${tree#*:}
  echo
  echo "== copy, $name ($(du -sh "$src" | cut -f1))"
  $pair --rounds "$rounds" --runs 3 \
    "$tool copy '$src' \$(mktemp -u -p $work/out)" "cp -r '$src' \$(mktemp -u -p $work/out)"
  echo "== remove, $name"
  # Each removal takes one of the copies made here, before the timing.
  copies=$(( (rounds * 3 + 1) ))
  rm -rf "$work/pre" && mkdir -p "$work/pre"
  for i in $(seq 1 $copies); do cp -r "$src" "$work/pre/a$i"; cp -r "$src" "$work/pre/b$i"; done
  $pair --rounds "$rounds" --runs 3 \
    "$tool remove \$(ls -d $work/pre/a* | head -1)" "rm -rf \$(ls -d $work/pre/b* | head -1)"
done
