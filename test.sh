#!/usr/bin/env bash
# Builds and runs the whole test suite twice: the normal build, then an
# AddressSanitizer + UndefinedBehaviorSanitizer build. Exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
velora_install_deps || exit 1
[ -x scripts/services.sh ] && { . scripts/services.sh; velora_start_services || exit 1; }

status=0
run_suite() {
  local dir=$1; shift
  echo "== $dir: build"
  if ! velora_build "$dir" "$@"; then echo "== $dir: build FAILED"; status=1; return; fi
  echo "== $dir: tests"
  (cd "$dir" && ctest --output-on-failure -j "${VELORA_JOBS:-$(nproc)}" --timeout 600) || status=1
}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
# The leak check runs after the shared libraries' exit code. libgnutls (loaded
# with libpq) touches its thread-local data from its destructor, which leaves
# the main thread's dynamic TLS table in a state LeakSanitizer cannot walk (it
# crashes in its tracer). By then the main thread's thread_local objects are
# destroyed; what system libraries keep per thread (only reachable from TLS)
# is listed in scripts/lsan.supp.
export LSAN_OPTIONS=${LSAN_OPTIONS:-use_tls=0:suppressions=$PWD/scripts/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DVELORA_SANITIZE=ON
exit $status
