#!/usr/bin/env bash
# Configures and builds the program, its tools and its tests into build/: optimised,
# with line tables for backtraces (a debugging session wants a Debug build).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" >/dev/null
cmake --build build --parallel "$(nproc)"
