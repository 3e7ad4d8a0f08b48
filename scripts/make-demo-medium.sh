#!/usr/bin/env bash
# Makes a distribution-layout demo medium: the launcher in Disk1 with its catalogues, the
# project's unzip and a parameter file, and the components under stage/Components as jars
# made with zip (so that permissions survive): a Java runtime made with jlink (java.base,
# with a class-data-sharing archive), the demo installer's jars (the report helper in
# zek/jlib/zorcore.jar, the main class of every mode in zek/jlib/zorinstaller.jar) and a
# patch-tool placeholder.
#   make-demo-medium.sh BUILD_DIR MEDIUM_DIR [JAVA_HOME]
set -euo pipefail
build_dir=$(realpath "$1")
medium=$2
java_home=${3:-${JAVA_HOME:-$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")}}
src=$(cd "$(dirname "$0")/../demo/java" && pwd)

rm -rf "$medium"
mkdir -p "$medium/Disk1"
medium=$(realpath "$medium")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The components' trees, as they are to lie in the staged directory.
runtime_version=$("$java_home/bin/java" -XshowSettings:properties -version 2>&1 |
  sed -n 's/^ *java.version = //p')
"$java_home/bin/jlink" --add-modules java.base --generate-cds-archive --strip-debug \
  --no-header-files --no-man-pages --output "$work/jre/jre/$runtime_version"
mkdir -p "$work/classes" "$work/zek/zek/jlib" "$work/core/zek/jlib" "$work/zpatch/ZPatch"
"$java_home/bin/javac" -d "$work/classes" $(find "$src" -name '*.java')
"$java_home/bin/jar" cf "$work/core/zek/jlib/zorcore.jar" -C "$work/classes" zorvex/demo
"$java_home/bin/jar" cf "$work/zek/zek/jlib/zorinstaller.jar" -C "$work/classes" zorvex/admkit
echo "The demo medium's patch tool: nothing to patch." > "$work/zpatch/ZPatch/README.txt"

components=$medium/stage/Components
pack() {  # COMPONENT VERSION TREE
  local dir=$components/$1/$2/1/DataFiles
  mkdir -p "$dir"
  (cd "$3" && zip -qry "$dir/$1.jar" .)
}
pack zorvex.swd.jre "$runtime_version" "$work/jre"
pack zorvex.swd.zek 1.0.0.0.0 "$work/zek"
pack zorvex.swd.zek.core 1.0.0.0.0 "$work/core"
pack zorvex.swd.zpatch 1.0.0.0.0 "$work/zpatch"

cp "$build_dir/setup" "$build_dir/unzip" "$medium/Disk1/"
cp -r "$build_dir/resource" "$medium/Disk1/resource"
# The demo certifies the Linux version it runs on: the kernel release's major and minor.
linux_version=$(uname -r | cut -d. -f1,2)
# Ask for paging space only where the machine has swap: many virtual machines have none.
swap_check=""
if [ "$(awk 'NR > 1' /proc/swaps | wc -l)" -gt 0 ]; then
  swap_check=$'SWAP_SPACE=1\nTEMP_SPACE_FAILURE_MESSAGE=The demo installer needs paging space.\n'
fi
cat > "$medium/Disk1/zorparam.ini" <<INI
[Zorvex]
; A distribution medium: everything is staged from ../stage/Components, each component
; at its highest version, with the medium's own unzip.
DISTRIBUTION=TRUE
JRE_LOCATION=../stage/Components/zorvex.swd.jre/$runtime_version/1/DataFiles
; Wait for the installer, pass its status back and remove the staged files afterwards.
WAIT_FOR_COMPLETION=TRUE
JRE_MEMORY_OPTIONS=-Xms16m -Xmx128m
NLS_ENABLED=TRUE
; Check the platform's own sections too, not only "Generic Prereqs".
PLATFORM_PREREQS=TRUE

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
echo "Demo medium ready in $medium"
