#!/usr/bin/env bash
# Builds both targets and runs every test: the unit tests natively, under the sanitizers
# and, under Wine, for Windows; the black-box tests of setup and setup.exe; the fuzz
# targets briefly.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

cmake --preset native
cmake --build --preset native
cmake --preset windows
cmake --build --preset windows
# setup.exe with the fault layer, for the fault sweep under Wine; never shipped.
cmake --preset windows-faults
cmake --build --preset windows-faults
cmake --preset asan
cmake --build --preset asan
if [ -f fuzz/CMakeLists.txt ]; then
  cmake --preset fuzz
  cmake --build --preset fuzz
fi

# The shipped programs again, from the same commit in another directory: the same bytes.
bash scripts/check-reproducible.sh

export ZORVEX_REQUIRE_WINDOWS=1
status=0
ctest --preset windows || status=1
# The native launcher once more under AddressSanitizer and UndefinedBehaviorSanitizer.
ctest --preset asan -E 'blackbox|sweep' || status=1
build/asan/tests/blackbox_tests --gtest_filter='*/native:RealJvm*' || status=1
# Every system call of each run failed in turn, and runs killed part way (the fault layer
# is in the sanitizer build only). Its per-run summaries: "swept N calls: N survived".
build/asan/tests/sweep_tests || status=1
if [ -f fuzz/CMakeLists.txt ]; then
  ctest --test-dir build/fuzz --output-on-failure || status=1
fi
# Last, so that its summary closes the output.
ctest --preset native || status=1
exit $status
