#!/usr/bin/env bash
# Builds every target and runs every test: the unit tests natively, under the sanitizers
# and, under Wine, for Windows; the black-box tests of setup and setup.exe, and of the
# arm64 programs under qemu; the fault sweep; the fuzz targets briefly. Says at each step
# how long it has run, and at its end how long it took.
#   test.sh           everything (CI runs this)
#   test.sh --quick   the edit-test loop, from a built tree: the native and Windows builds,
#                     their unit tests and the black-box tests of setup and setup.exe
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
[[ ${1:-} == --quick ]] && quick=1
start=$SECONDS
# A failed run's record is often cut in the middle: its end repeats what each failed test
# said, from the test logs, so that the cause is there beside the summary.
failures() {
  local log
  for log in build/*/Testing/Temporary/LastTest.log build/asan/unit.log build/asan/realjvm.log; do
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
jobs=$(nproc)
source scripts/presets.sh
export ZORVEX_REQUIRE_WINDOWS=1 ZORVEX_REQUIRE_ARM64=1

if [[ $quick == 1 ]]; then
  for preset in native windows; do
    step "Building the preset $preset in build/$preset"
    build_preset "$preset"
  done
  status=0
  step "The unit tests, natively and of setup.exe under Wine"
  ctest --preset windows || status=1
  ctest --preset native -j "$jobs" -E 'blackbox|wine_message_box' || status=1
  step "The black-box tests of setup and setup.exe"
  build/native/tests/blackbox_tests --gtest_filter='Targets/*' || status=1
  exit $status
fi

step "Installing what the builds and tests need (scripts/install-deps.sh)"
bash scripts/install-deps.sh

# presets: native, windows (with, in faults/, setup.exe and unzip.exe linked with the fault
# layer for the sweep under Wine, never shipped), the Linux programs for arm64, the
# sanitizers, the fuzz targets. The Windows unit tests, which mostly wait for Wine, run
# beside the builds that follow theirs; what they said is shown after the builds.
for preset in native windows linux-arm64 asan fuzz; do
  step "Building the preset $preset in build/$preset"
  build_preset "$preset"
  if [[ $preset == windows ]]; then
    ctest --preset windows > build/windows/unit.out 2>&1 &
    wine_units=$!
  fi
done

step "Building the shipped programs again in another directory: the same bytes"
bash scripts/check-reproducible.sh

status=0
# The shipped programs come from unity batches, where one file's helper can silently stand
# for another's of the same name; the fuzz preset's objects show each file's helpers alone.
step "File-local names that a unity batch would let stand for another file's"
python3 scripts/unity-names.py build/fuzz build/native || status=1
step "The unit tests of setup.exe under Wine (run beside the builds)"
wait $wine_units || status=1
cat build/windows/unit.out
step "The native launcher under AddressSanitizer and UndefinedBehaviorSanitizer"
ctest --preset asan -j "$jobs" -E 'blackbox|sweep' || status=1
cp build/asan/Testing/Temporary/LastTest.log build/asan/unit.log
# Every system call of each run failed in turn, and runs killed part way (the fault layer
# is in the sanitizer build only). Its per-run summaries: "swept N calls: N survived".
# The sweeps are CTest tests of their own, run side by side; their summaries follow.
step "The fault sweep"
ctest --preset asan -j "$jobs" -R '^sweep[.]' || status=1
grep -E ': (swept|killed at|[0-9]+ calls that move bytes)' build/asan/Testing/Temporary/LastTest.log || true
# The black-box tests spend much of their time waiting for Wine and qemu: the native build's
# black-box tests against the sanitizer build's programs, and the fuzz targets, run beside
# them, and what they said is shown before the summary of the rest, which closes the output.
step "The native unit and black-box tests, beside them the sanitizer build's programs under the black-box tests and the fuzz targets"
ZORVEX_BLACKBOX_BUILD=$PWD/build/asan build/native/tests/blackbox_tests \
  --gtest_filter='*/native:RealJvm*' > build/asan/realjvm.log 2>&1 &
realjvm=$!
ctest --test-dir build/fuzz -j 2 --output-on-failure > build/fuzz/run.out 2>&1 &
fuzzing=$!
# The three black-box parts at once: each waits for Wine, qemu or its programs much of the
# time, and the longest would otherwise wait for a slot behind another.
ctest --preset native -j "$((jobs + 1))" > build/native/ctest.out 2>&1 || status=1
wait $realjvm || status=1
wait $fuzzing || status=1
echo "--- The sanitizer build's programs under the native black-box tests"
tail -n 20 build/asan/realjvm.log
echo "--- The fuzz targets"
cat build/fuzz/run.out
echo "--- The native unit and black-box tests"
cat build/native/ctest.out
exit $status
