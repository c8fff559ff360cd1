#!/usr/bin/env bash
# The one list of system packages the project needs, and the step that installs
# whatever is missing. Sourced by run.sh and test.sh; quiet when all is present.
VELORA_PACKAGES=(
  build-essential cmake ninja-build ccache pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  libsqlite3-dev libpq-dev postgresql unixodbc-dev odbcinst libsqliteodbc
)

velora_install_deps() {
  local missing=() p
  for p in "${VELORA_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq >/dev/null
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Configure (once) and build a tree incrementally: velora_build <dir> [cmake args...]
velora_build() {
  local dir=$1; shift
  # Let ccache reuse objects across clones in other folders (CI builds a fresh
  # clone): paths below the source root are hashed relative to it.
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null || return 1
  fi
  cmake --build "$dir" -j "${VELORA_JOBS:-$(nproc)}" | grep -v -E '^\[[0-9]+/[0-9]+\]|^ninja: no work to do' || true
  return "${PIPESTATUS[0]}"
}
