# Set-up shared by the bench scripts that time velloran-cli (sourced, not run).
#
# release_cli BUILD_DIR
#   Configures a release build in BUILD_DIR when it has none, builds velloran-cli there and sets
#   `cli` to the program's absolute path.
# memory_work_dir NAME
#   Prints a new folder in memory (/dev/shm where there is one) for the bench's files, so that the
#   disk's speed does not enter the figures.

release_cli() {
  local build="$1"
  if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELLORAN_TESTS=OFF \
      -DVELLORAN_BENCH=ON >/dev/null
  fi
  cmake --build "$build" --target velloran-cli >/dev/null
  cli="$(realpath "$build/bin/velloran-cli")"
}

memory_work_dir() {
  local memory_dir=/tmp
  if [[ -d /dev/shm ]]; then memory_dir=/dev/shm; fi
  mktemp -d "$memory_dir/$1.XXXXXX"
}
