#!/usr/bin/env bash
# Makes a plain-layout demo medium: the built launcher with its catalogues, a parameter
# file that names the machine's JVM, and the demo installer compiled into jars named as
# the launcher's class path names them (the report helper in jlib/zorcore.jar, the main
# class of every mode in jlib/zorinstaller.jar).
#   make-demo-medium.sh BUILD_DIR MEDIUM_DIR [JAVA_HOME]
set -euo pipefail
build_dir=$(realpath "$1")
medium=$2
java_home=${3:-${JAVA_HOME:-$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")}}
src=$(cd "$(dirname "$0")/../demo/java" && pwd)

rm -rf "$medium"
mkdir -p "$medium/jlib"
medium=$(realpath "$medium")
classes=$(mktemp -d)
trap 'rm -rf "$classes"' EXIT

"$java_home/bin/javac" -d "$classes" $(find "$src" -name '*.java')
"$java_home/bin/jar" cf "$medium/jlib/zorcore.jar" -C "$classes" zorvex/demo
"$java_home/bin/jar" cf "$medium/jlib/zorinstaller.jar" -C "$classes" zorvex/admkit

# The demo certifies the Linux version it runs on: the kernel release's major and minor.
linux_version=$(uname -r | cut -d. -f1,2)
# Ask for paging space only where the machine has swap: many virtual machines have none.
swap_check=""
if [ "$(awk 'NR > 1' /proc/swaps | wc -l)" -gt 0 ]; then
  swap_check=$'SWAP_SPACE=1\nTEMP_SPACE_FAILURE_MESSAGE=The demo installer needs paging space.\n'
fi

cp "$build_dir/setup" "$medium/setup"
cp "$build_dir/unzip" "$medium/unzip"
cp -r "$build_dir/resource" "$medium/resource"
cat > "$medium/zorparam.ini" <<INI
[Zorvex]
; The Java runtime the installer runs on.
JRE_LOCATION=$java_home
; A plain medium: the installer runs from here, nothing is staged.
BOOTSTRAP=FALSE
JRE_MEMORY_OPTIONS=-Xms16m -Xmx128m
NLS_ENABLED=TRUE
; Check the platform's own sections too, not only "Generic Prereqs".
PLATFORM_PREREQS=TRUE

[Generic Prereqs]
; At least a 100 MHz processor.
CPU=100
CPU_FAILURE_MESSAGE=The demo installer needs a processor of at least 100 MHz.
${swap_check}
[Certified Versions]
; The systems the product is certified for: this machine's Linux version among them.
Linux=5.10,${linux_version}
CERTIFIED_VERSION_FAILURE_MESSAGE=This Linux version is not certified for the demo product.

[Linux-${linux_version}-required]
CPU=200

[Linux-${linux_version}-optional]
CPU=400
CPU_FAILURE_MESSAGE=A processor of 400 MHz or more is recommended.
INI
echo "Demo medium ready in $medium"
