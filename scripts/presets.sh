# Sourced by the demo and test commands: builds a CMake preset in build/PRESET, knowing what
# the build directory was built with. Each build directory keeps the versions of the
# compilers and libraries its programs are built and linked with; when what is installed
# differs (a package upgraded, say, as installing an arm64 twin upgrades the host's), the
# preset is configured and built afresh, and that is said in one line. Ninja alone cannot
# see it: dpkg gives unpacked files the package's own time, older than the programs.
#   source scripts/presets.sh; build_preset PRESET [TARGET ...]

# The packages whose versions a preset's programs depend on: compilers, the C++ and C
# runtimes and the libraries linked in (statically), the build tools.
# The host's libraries by the host's architecture: an arm64 twin installed beside them
# changes nothing of what the host programs are linked with.
preset_packages() {
  local tools="cmake ninja-build googletest" a
  a=:$(dpkg --print-architecture)
  case $1 in
    native | asan)
      echo "g++-12 libstdc++-12-dev$a libc6-dev$a libssl-dev$a zlib1g-dev$a libdeflate-dev$a" \
           "$tools" ;;
    fuzz)
      echo "clang-14 libclang-rt-14-dev libstdc++-12-dev$a libc6-dev$a libssl-dev$a" \
           "zlib1g-dev$a libdeflate-dev$a $tools" ;;
    windows)
      echo "g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev" \
           "binutils-mingw-w64-x86-64 libz-mingw-w64-dev $tools" ;;
    linux-arm64)
      echo "g++-12-aarch64-linux-gnu libstdc++-12-dev-arm64-cross libc6-dev-arm64-cross" \
           "libssl-dev:arm64 zlib1g-dev:arm64 libdeflate-dev:arm64 $tools" ;;
  esac
}

# What the preset would be built with now: one line per package (its installed version, or
# "none"; every architecture of it installed where none is named).
preset_fingerprint() {
  local p
  for p in $(preset_packages "$1"); do
    dpkg-query -W -f='${Package}:${Architecture}=${Version}\n' "$p" 2>/dev/null || echo "$p=none"
  done
}

# Removes build/PRESET when it was built with other versions than those installed now, and
# says so. A build directory without a record is judged by its own configure, as before.
preset_fresh() {
  local preset=$1 dir=build/$1
  local record=$dir/.zorvex-built-with
  [ -f "$record" ] || return 0
  local now
  now=$(preset_fingerprint "$preset")
  [ "$now" = "$(cat "$record")" ] && return 0
  local changed
  # diff's status 1 (they differ) must not end a caller that runs with errexit and pipefail.
  changed=$({ diff <(cat "$record") <(echo "$now") || true; } | sed -n 's/^> //p' | tr '\n' ' ')
  echo "build/$preset was built with other compilers or libraries than are installed now" \
       "(${changed% }): it is configured and built afresh."
  rm -rf "$dir"
}

# Configures (afresh when what it is built with changed) and builds the preset, then
# records what it was built with.
build_preset() {
  local preset=$1
  shift
  preset_fresh "$preset"
  cmake --preset "$preset" >/dev/null
  preset_fingerprint "$preset" >"build/$preset/.zorvex-built-with"
  if [ $# -gt 0 ]; then
    cmake --build --preset "$preset" --target "$@"
  else
    cmake --build --preset "$preset"
  fi
}
