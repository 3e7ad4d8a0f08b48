#!/usr/bin/env bash
# The shipped programs go without debug information, and the debug file the build keeps
# beside each is the one for that program: the same build ID (for setup.exe and unzip.exe
# the CodeView signature of their debug directory), and the program's debug link names it.
#   debug_files_test.sh BUILD_DIR [WINDOWS_BUILD_DIR]
set -euo pipefail
fail() { echo "FAILED: $*"; exit 1; }
# check PROGRAM DUMP BUILD_ID: the pair PROGRAM and PROGRAM.debug, read with DUMP (a
# section list: objdump -h), BUILD_ID (the program's build ID) and the debug link's name.
check() {
  local p=$1 sections=$2 build_id=$3 name
  name=$(basename "$p")
  [[ -f $p.debug ]] || fail "no $name.debug beside $name"
  ! $sections "$p" | grep -q '\.debug_info' || fail "$name carries its debug information"
  $sections "$p.debug" | grep -q '\.debug_info' || fail "$name.debug holds no debug information"
  id=$($build_id "$p")
  [[ -n $id && $id == "$($build_id "$p.debug")" ]] ||
    fail "$name ($id) and $name.debug ($($build_id "$p.debug")) are not of one build"
  [[ $(link_of "$p") == "$name.debug" ]] || fail "$name's debug link does not name $name.debug"
}
elf_sections() { readelf -S "$1" 2>/dev/null; }
elf_id() { readelf -n "$1" 2>/dev/null | sed -n 's/.*Build ID: *//p'; }
pe_sections() { x86_64-w64-mingw32-objdump -h "$1"; }
pe_id() { x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/.*RSDS signature \([0-9a-f]*\).*/\1/p'; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# The name the .gnu_debuglink section holds, up to its terminating zero.
link_of() {
  objcopy --dump-section .gnu_debuglink="$scratch/link" "$1" "$scratch/copy" 2>/dev/null &&
    tr '\0' '\n' < "$scratch/link" | head -1
}
for program in setup unzip; do check "$1/$program" elf_sections elf_id; done
if [[ -n ${2:-} && -f $2/setup.exe ]]; then
  for program in setup unzip; do check "$2/$program.exe" pe_sections pe_id; done
fi
echo "setup and unzip${2:+, setup.exe and unzip.exe}: stripped, each with its debug file"
