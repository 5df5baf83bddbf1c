#!/usr/bin/env bash
# Installs what is needed, builds, and runs the whole test suite: every test of the
# normal build, the engine's tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the engine and its tools cross-built for Windows
# and tested under Wine (scripts/test-windows.sh). Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
bash scripts/install-deps.sh --windows
bash scripts/build.sh

# The sanitizer build of the engine is made while the normal build's tests run
# (most of them wait on windows and files, not on the processor). -O1 with line
# tables only: the sanitizers find the same faults and the tests run in half the
# time; assertions stay on.
asan_log=$(mktemp)
( cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" \
    -DOPENINVOICE_ENGINE_ONLY=ON -DOPENINVOICE_SANITIZE=ON &&
  cmake --build build-asan --parallel "$(nproc)" ) >"$asan_log" 2>&1 &
asan_build=$!

export QT_QPA_PLATFORM=offscreen
linux_status=0
ctest --test-dir build --output-on-failure --timeout 300 || linux_status=$?
linux=$(date +%s)
if ! wait "$asan_build"; then
  cat "$asan_log" >&2
  echo "test: the sanitizer build failed" >&2
  exit 1
fi
rm -f "$asan_log"
[ "$linux_status" -eq 0 ] || exit "$linux_status"

# The engine's tests keep to their own temporary folders, so two run at once.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure --timeout 600 --parallel "$(nproc)"
sanitized=$(date +%s)

bash scripts/test-windows.sh
echo "test: built and tested $((linux - start)) s, sanitizer build (rest) and tests $((sanitized - linux)) s," \
     "Windows $(($(date +%s) - sanitized)) s"
