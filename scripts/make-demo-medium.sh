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

cp "$build_dir/setup" "$medium/setup"
cp -r "$build_dir/resource" "$medium/resource"
cat > "$medium/zorparam.ini" <<INI
[Zorvex]
; The Java runtime the installer runs on.
JRE_LOCATION=$java_home
; A plain medium: the installer runs from here, nothing is staged.
BOOTSTRAP=FALSE
JRE_MEMORY_OPTIONS=-Xms16m -Xmx128m
NLS_ENABLED=TRUE
INI
echo "Demo medium ready in $medium"
