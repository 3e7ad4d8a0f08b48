#!/usr/bin/env bash
# Builds every target and runs every test: the unit tests natively, under the sanitizers
# and, under Wine, for Windows; the black-box tests of setup and setup.exe, and of the
# arm64 programs under qemu; the fault sweep; the fuzz targets briefly. Says at each step
# how long it has run, and at its end how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."

start=$SECONDS
trap 'echo "The test command took $(((SECONDS - start) / 60)) min $(((SECONDS - start) % 60)) s."' EXIT
step() { echo "==> $* (at $((SECONDS - start)) s)"; }

step "Installing what the builds and tests need (scripts/install-deps.sh)"
bash scripts/install-deps.sh

# presets: native, windows, setup.exe with the fault layer for the fault sweep under Wine
# (never shipped), the Linux programs for arm64, the sanitizers, the fuzz targets.
for preset in native windows windows-faults linux-arm64 asan fuzz; do
  step "Building the preset $preset in build/$preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

step "Building the shipped programs again in another directory: the same bytes"
bash scripts/check-reproducible.sh

export ZORVEX_REQUIRE_WINDOWS=1 ZORVEX_REQUIRE_ARM64=1
status=0
step "The unit tests of setup.exe under Wine"
ctest --preset windows || status=1
step "The native launcher under AddressSanitizer and UndefinedBehaviorSanitizer"
ctest --preset asan -E 'blackbox|sweep' || status=1
build/asan/tests/blackbox_tests --gtest_filter='*/native:RealJvm*' || status=1
# Every system call of each run failed in turn, and runs killed part way (the fault layer
# is in the sanitizer build only). Its per-run summaries: "swept N calls: N survived".
step "The fault sweep"
build/asan/tests/sweep_tests || status=1
step "The fuzz targets, briefly"
ctest --test-dir build/fuzz --output-on-failure || status=1
# Last, so that its summary closes the output: unit tests, the black-box tests of setup,
# setup.exe under Wine and the arm64 programs under qemu, the message box under Wine.
step "The native unit and black-box tests"
ctest --preset native || status=1
exit $status
