#!/usr/bin/env bash
# The shipped programs go without debug information, and the debug file the build keeps
# beside each is the one for that program: the same build ID, and the program's debug
# link names it.
#   debug_files_test.sh BUILD_DIR
set -euo pipefail
dir=$1
fail() { echo "FAILED: $*"; exit 1; }
build_id() { readelf -n "$1" 2>/dev/null | sed -n 's/.*Build ID: *//p'; }
for program in setup unzip; do
  p=$dir/$program
  [[ -f $p.debug ]] || fail "no $program.debug beside $program"
  ! readelf -S "$p" | grep -q '\.debug_info' || fail "$program carries its debug information"
  readelf -S "$p.debug" | grep -q '\.debug_info' || fail "$program.debug holds no debug information"
  id=$(build_id "$p")
  [[ -n $id && $id == "$(build_id "$p.debug")" ]] ||
    fail "$program ($id) and $program.debug ($(build_id "$p.debug")) are not of one build"
  [[ $(readelf --string-dump=.gnu_debuglink "$p" | sed -n 's/^ *\[ *0\] *//p') == "$program.debug" ]] ||
    fail "$program's debug link does not name $program.debug"
done
echo "setup and unzip: stripped, each with its debug file"
