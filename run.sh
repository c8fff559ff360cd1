#!/usr/bin/env bash
# Builds the project (installing what is missing) and runs the demo program.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
velora_install_deps
velora_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
exec ./build/examples/velora-demo "$@"
