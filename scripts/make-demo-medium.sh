#!/usr/bin/env bash
# Makes the distribution-layout demo medium with zorvex-medium build: the launcher in Disk1
# with its catalogues, the project's unzip and a parameter file, and the components under
# stage/Components as jars: a Java runtime made with jlink (java.base, with a
# class-data-sharing archive), the demo installer's jars (the main class of every mode in
# zek/jlib/zorinstaller.jar, the report helper in zek/jlib/zorcore.jar) and a patch-tool
# placeholder.
#   make-demo-medium.sh BUILD_DIR MEDIUM_DIR [JAVA_HOME]
# For another target, the tool of BUILD_DIR makes the medium around the launcher of
# ZORVEX_DEMO_LAUNCHER_DIR, for ZORVEX_DEMO_TARGET (e.g. linux-arm64), with a runtime that
# jlink makes from the target JDK's jmods in ZORVEX_DEMO_JMODS; ZORVEX_DEMO_LAYOUT=plain
# makes a plain-layout medium.
set -euo pipefail
build_dir=$(realpath "$1")
launcher_dir=$(realpath "${ZORVEX_DEMO_LAUNCHER_DIR:-$build_dir}")
target=${ZORVEX_DEMO_TARGET:-linux}
layout=${ZORVEX_DEMO_LAYOUT:-distribution}
jmods=()
if [ -n "${ZORVEX_DEMO_JMODS:-}" ]; then jmods=(--jmods "$ZORVEX_DEMO_JMODS"); fi
# The components are packed uncompressed (--store): a medium three times larger (66 MB
# against 21 MB for the runtime) that stages in about half the time, the unzip then copying
# the runtime's files at the speed of cp. ZORVEX_DEMO_STORE=NAME,... names the components
# to store instead ("" for none: every jar deflated); a plain medium has no jars to store.
stored=()
all=zorvex.swd.jre,zorvex.swd.zek,zorvex.swd.zek.core,zorvex.swd.zpatch
[ "$layout" = plain ] && all=""  # a plain medium packs no jars
IFS=, read -ra names <<<"${ZORVEX_DEMO_STORE-$all}"
for name in ${names[@]+"${names[@]}"}; do stored+=(--store "$name"); done
medium=$2
java_home=${3:-${JAVA_HOME:-$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")}}
src=$(cd "$(dirname "$0")/../demo/java" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/classes" "$work/zpatch/ZPatch"
"$java_home/bin/javac" -d "$work/classes" $(find "$src" -name '*.java')
"$java_home/bin/jar" cf "$work/zorcore.jar" -C "$work/classes" zorvex/demo
"$java_home/bin/jar" cf "$work/zorinstaller.jar" -C "$work/classes" zorvex/admkit
echo "The demo medium's patch tool: nothing to patch." > "$work/zpatch/ZPatch/README.txt"

# The demo certifies the Linux version it runs on: the kernel release's major and minor.
linux_version=$(uname -r | cut -d. -f1,2)
# Ask for paging space only where the machine has swap: many virtual machines have none.
swap_check=""
if [ "$(awk 'NR > 1' /proc/swaps | wc -l)" -gt 0 ]; then
  swap_check=$'SWAP_SPACE=1\nTEMP_SPACE_FAILURE_MESSAGE=The demo installer needs paging space.\n'
fi
cat > "$work/prereqs.ini" <<INI
[Generic Prereqs]
CPU=100
CPU_FAILURE_MESSAGE=The demo installer needs a processor of at least 100 MHz.
${swap_check}
[Certified Versions]
Linux=5.10,${linux_version}
CERTIFIED_VERSION_FAILURE_MESSAGE=This Linux version is not certified for the demo product.

[Linux-${linux_version}-required]
CPU=200

[Linux-${linux_version}-optional]
CPU=400
CPU_FAILURE_MESSAGE=A processor of 400 MHz or more is recommended.
INI

rm -rf "$medium"
# Wait for the installer, pass its status back and remove the staged files afterwards;
# check the platform's own prerequisite sections too, not only "Generic Prereqs".
"$build_dir/zorvex-medium" build --out "$medium" --launcher-dir "$launcher_dir" \
  --target "$target" --layout "$layout" --jlink-modules java.base --jdk "$java_home" \
  ${jmods[@]+"${jmods[@]}"} ${stored[@]+"${stored[@]}"} \
  --installer-jar "$work/zorinstaller.jar" --core-jar "$work/zorcore.jar" \
  --component "zorvex.swd.zpatch:1.0.0.0.0:$work/zpatch" \
  --set WAIT_FOR_COMPLETION=TRUE --set "JRE_MEMORY_OPTIONS=-Xms16m -Xmx128m" \
  --set NLS_ENABLED=TRUE --set PLATFORM_PREREQS=TRUE --prereqs "$work/prereqs.ini"
