#!/usr/bin/env bash
# Builds every target and runs every test: the unit tests natively, under the sanitizers
# and, under Wine, for Windows; the black-box tests of setup and setup.exe, and of the
# arm64 programs under qemu; the fault sweep; the fuzz targets briefly. Says at each step
# how long it has run, and at its end how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."

start=$SECONDS
# A failed run's record is often cut in the middle: its end repeats what each failed test
# said, from the test logs, so that the cause is there beside the summary.
failures() {
  local log
  for log in build/*/Testing/Temporary/LastTest.log build/asan/realjvm.log build/asan/sweep.log; do
    [[ -f $log ]] && grep -q ': Failure$' "$log" || continue
    echo "==> What the failed tests said ($log)"
    grep -A 24 ': Failure$' "$log" | cut -c 1-300 | head -n 240
  done
}
finish() {
  [[ ${status:-0} -eq 0 ]] || failures
  echo "The test command took $(((SECONDS - start) / 60)) min $(((SECONDS - start) % 60)) s."
}
trap finish EXIT
step() { echo "==> $* (at $((SECONDS - start)) s)"; }

step "Installing what the builds and tests need (scripts/install-deps.sh)"
bash scripts/install-deps.sh

# presets: native, windows, setup.exe with the fault layer for the fault sweep under Wine
# (never shipped), the Linux programs for arm64, the sanitizers, the fuzz targets.
for preset in native windows windows-faults linux-arm64 asan fuzz; do
  step "Building the preset $preset in build/$preset"
  cmake --preset "$preset" >/dev/null
  targets=()
  # The sweep stages a medium with setup.exe, unzip.exe and the catalogues: nothing more.
  [[ $preset == windows-faults ]] && targets=(--target setup unzip catalogues)
  cmake --build --preset "$preset" "${targets[@]}"
done

step "Building the shipped programs again in another directory: the same bytes"
bash scripts/check-reproducible.sh

export ZORVEX_REQUIRE_WINDOWS=1 ZORVEX_REQUIRE_ARM64=1
status=0
step "The unit tests of setup.exe under Wine"
ctest --preset windows || status=1
step "The native launcher under AddressSanitizer and UndefinedBehaviorSanitizer"
ctest --preset asan -E 'blackbox|sweep' || status=1
build/asan/tests/blackbox_tests --gtest_filter='*/native:RealJvm*' 2>&1 |
  tee build/asan/realjvm.log || status=1
# Every system call of each run failed in turn, and runs killed part way (the fault layer
# is in the sanitizer build only). Its per-run summaries: "swept N calls: N survived".
step "The fault sweep"
build/asan/tests/sweep_tests 2>&1 | tee build/asan/sweep.log || status=1
step "The fuzz targets, briefly"
ctest --test-dir build/fuzz --output-on-failure || status=1
# Last, so that its summary closes the output: unit tests, the black-box tests of setup,
# setup.exe under Wine and the arm64 programs under qemu, the message box under Wine.
step "The native unit and black-box tests"
ctest --preset native || status=1
exit $status
