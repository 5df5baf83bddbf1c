#!/usr/bin/env bash
# The engine and its tools on Windows: installs MinGW-w64 and Wine, cross-builds the
# engine, its writer, btrexport, mkcompany and their tests for 64-bit Windows
# (GoogleTest built from Debian's sources), runs every engine and tool test under
# Wine with the corpus read in place from ../shared, and checks that btrexport and
# mkcompany write on Windows what they write on Linux, byte for byte (by digest).
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
start=$(date +%s)

bash scripts/install-deps.sh --windows

build=$root/build-windows
toolchain=$root/cmake/mingw-w64-x86_64.cmake
jobs=$(nproc)

# GoogleTest for Windows, from the sources Debian ships.
gtest=$build/googletest
if [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B "$build/googletest-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$gtest" >/dev/null
  cmake --build "$build/googletest-build" --parallel "$jobs"
  cmake --install "$build/googletest-build" >/dev/null
fi

# A Wine prefix of our own, made once, and a wine server kept up while the tests
# start their hundreds of processes.
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The server wineboot starts ends a few seconds after its last program: wait for
# it, then start one that stays up (programs started while a server shuts down
# lose their connection to it).
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
timeout 60 wineserver -w || wineserver -k
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT

# A network share for the share test: \\openinvoice-test\share is a folder here
# (Wine looks UNC paths up under dosdevices/unc).
share=$build/share
mkdir -p "$share" "$WINEPREFIX/dosdevices/unc/openinvoice-test"
ln -sfn "$share" "$WINEPREFIX/dosdevices/unc/openinvoice-test/share"
export BTRIEVE_TEST_SHARE='\\openinvoice-test\share' BTRIEVE_TEST_SHARE_FOLDER=$share
export WINEPATH=

# SQLite for Windows: Debian packages none, so SQLite's own amalgamation is built
# into btrexport and the tests, as the npm registry's better-sqlite3 package ships it
# (that version, checked by its digest; SQLite 3.54.1).
sqlite=$build/sqlite
sqlite_pkg=better-sqlite3-13.2.0.tgz
sqlite_sha256=40487589df3496f2ee0079d22b73c63fccebe7db0e8ee9a2c42421861e321e0b
if [ ! -f "$sqlite/sqlite3.c" ]; then
  mkdir -p "$sqlite"
  curl -fsSL --retry 3 -o "$build/$sqlite_pkg" "https://registry.npmjs.org/better-sqlite3/-/$sqlite_pkg"
  echo "$sqlite_sha256  $build/$sqlite_pkg" | sha256sum -c --quiet
  tar -xzf "$build/$sqlite_pkg" -C "$sqlite" --strip-components=3 \
    package/deps/sqlite3/sqlite3.c package/deps/sqlite3/sqlite3.h package/deps/sqlite3/sqlite3ext.h
fi

# -O1 without debug information (SQLite, the only C, at -O0): the cross build takes
# half the time, and what is checked here is behaviour, not speed. The tests are
# listed when CTest runs (under Wine), not at each link.
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSQLITE3_AMALGAMATION="$sqlite" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O0 -DNDEBUG" -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST \
  -DOPENINVOICE_ENGINE_ONLY=ON -DGTest_DIR="$gtest/lib/cmake/GTest" >/dev/null
cmake --build "$build" --parallel "$jobs"
built=$(date +%s)

# Every engine and tool test, under Wine, from the project root as CTest runs them
# on Linux: each test program once with all its tests (one Wine process each rather
# than one a test). The engine's tests, the longest, run beside the others; each
# program's output is shown whole when it ends. Skipped tests are listed with their
# reasons.
logs=$build/test-logs
rm -rf "$logs" && mkdir -p "$logs"
under_wine() {  # test program, relative to the build folder
  local log=$logs/$(basename "$1").log status=0
  timeout 1200 wine "$build/$1.exe" >"$log" 2>&1 || status=$?
  { echo "== $1.exe (under Wine): exit $status"; cat "$log"; } >"$log.done"
  return "$status"
}
failed=0
under_wine tests/btrieve/btrieve_tests &
engine=$!
for t in tests/layouts/layouts_tests tests/tools/tools_tests tests/tools/csv_portable_tests \
         tests/sql/sql_plan_tests tests/sql/sql_extension_tests; do
  under_wine "$t" || failed=1
  cat "$logs/$(basename "$t").log.done"
done
wait "$engine" || failed=1
cat "$logs/btrieve_tests.log.done"
for f in "$logs"/*.done; do grep -m1 "^== " "$f"; done
[ "$failed" -eq 0 ] || { echo "test-windows: tests failed under Wine" >&2; exit 1; }
tested=$(date +%s)

# The same bytes as on Linux. The Linux tools come from the normal build, or an
# engine-only build made here.
linux=$root/build/tools
if [ ! -x "$linux/btrexport" ] || [ ! -x "$linux/mkcompany" ]; then
  cmake -S . -B "$root/build-engine" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOPENINVOICE_ENGINE_ONLY=ON >/dev/null
  cmake --build "$root/build-engine" --parallel "$jobs" --target btrexport mkcompany
  linux=$root/build-engine/tools
fi
win=$build/tools
bash scripts/compare-windows-output.sh "$linux" "$win"

end=$(date +%s)
echo "test-windows: built in $((built - start)) s, tests under Wine $((tested - built)) s," \
     "output compared in $((end - tested)) s, $((end - start)) s in all"
