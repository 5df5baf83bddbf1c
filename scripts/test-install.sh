#!/usr/bin/env bash
# Installs the built program into a temporary prefix and checks it the way a user
# meets it: every file in place, the installed program finding its skins, sounds,
# help page and icons from another folder, the SQLite extension loading, the per-user folder of the desktop entry,
# the desktop entry, the AppStream metainfo and the manual pages valid, and the
# installed program opening its window through the desktop entry's Exec line.
# Exits non-zero at the first failure.
#   bash scripts/test-install.sh [BUILD_DIR]     (default: build, already built)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
app_id=example.corvane.OpenInvoice
export QT_QPA_PLATFORM=offscreen

fail() { echo "test-install: $*" >&2; exit 1; }
step() { echo "-- $*"; }

step "install into $prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

step "files in place"
files=(bin/openinvoice bin/btrexport bin/mkcompany lib/openinvoice/btrieve.so
  share/openinvoice/openinvoice.html
  share/openinvoice/skins/grey.skn share/openinvoice/skins/military.skn share/openinvoice/skins/zhelezo.skn
  share/openinvoice/icons/openinvoice-16.png share/openinvoice/icons/openinvoice-32.png
  share/applications/$app_id.desktop share/metainfo/$app_id.metainfo.xml
  share/man/man1/openinvoice.1.gz share/man/man1/btrexport.1.gz share/man/man1/mkcompany.1.gz)
for s in kxtheme chimes click boink detail; do files+=(share/openinvoice/sounds/$s.wav); done
for n in 16 32 48 64 128 256; do files+=(share/icons/hicolor/${n}x$n/apps/openinvoice.png); done
for f in "${files[@]}"; do [ -f "$prefix/$f" ] || fail "missing $f"; done
for n in 16 32 48 64 128 256; do
  file "$prefix/share/icons/hicolor/${n}x$n/apps/openinvoice.png" | grep -q "PNG image data, $n x $n" \
    || fail "hicolor ${n}x$n icon is not $n by $n"
done
# The installed program must not lean on the build tree.
if readelf -d "$prefix/bin/openinvoice" | grep -qE 'RPATH|RUNPATH'; then
  readelf -d "$prefix/bin/openinvoice" | grep -E 'RPATH|RUNPATH' | grep -q "$build" \
    && fail "the installed program looks for libraries in the build tree"
fi

step "the installed program finds its files from another folder"
mkdir -p "$work/elsewhere"
cd "$work/elsewhere"
report=$("$prefix/bin/openinvoice" --check-install) || { echo "$report"; fail "--check-install found files missing"; }
echo "$report"
echo "$report" | grep -q "^program folder *$prefix/share/openinvoice$" || fail "program folder is not the installed share folder"
echo "$report" | grep -q "^help page *$prefix/share/openinvoice/openinvoice.html$" || fail "help page not found where installed"
echo "$report" | grep -q "^working folder *$work/elsewhere$" || fail "a shell start does not run in the current folder"
# A missing file is reported and fails the check.
mv "$prefix/share/openinvoice/sounds/boink.wav" "$work/boink.wav"
if out=$("$prefix/bin/openinvoice" --check-install); then fail "--check-install passed with boink.wav missing"; fi
echo "$out" | grep -q "^sound boink.wav *MISSING$" || fail "--check-install did not name the missing sound"
mv "$work/boink.wav" "$prefix/share/openinvoice/sounds/boink.wav"
"$prefix/bin/openinvoice" --version | grep -qx "openinvoice [0-9.]*" || fail "--version"
"$prefix/bin/openinvoice" --help | grep -q -- "--user-folder" || fail "--help does not name --user-folder"
if "$prefix/bin/openinvoice" --no-such-switch 2>/dev/null; then fail "an unknown argument was accepted"; fi

step "tools answer --help"
"$prefix/bin/btrexport" --help | grep -q "^usage: btrexport" || fail "btrexport --help"
"$prefix/bin/mkcompany" --help | grep -q "^usage: mkcompany" || fail "mkcompany --help"

step "the installed SQLite extension reads a sample company"
"$prefix/bin/mkcompany" "$work/sql-company" >/dev/null
customers=$(sqlite3 :memory: ".load $prefix/lib/openinvoice/btrieve" "SELECT btrieve_attach('$work/sql-company')" \
  "SELECT count(*) FROM customer" | tail -1)
[ "$customers" = 250 ] || fail "the installed extension read $customers customers, not 250"

step "desktop entry, metainfo and manual pages are valid"
desktop-file-validate "$prefix/share/applications/$app_id.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/$app_id.metainfo.xml" >/dev/null \
  || appstreamcli validate --no-net "$prefix/share/metainfo/$app_id.metainfo.xml"
for page in openinvoice btrexport mkcompany; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { echo "$warnings"; fail "man --warnings on $page.1"; }
done

step "the desktop entry's Exec line starts the window in the per-user folder"
exec_line=$(sed -n 's/^Exec=//p' "$prefix/share/applications/$app_id.desktop")
[ "${exec_line%% *}" = openinvoice ] || fail "Exec does not start openinvoice by name: $exec_line"
data=$work/data
"$prefix/bin/mkcompany" "$work/company" --customers 20 --journal-rows 200 >/dev/null
XDG_DATA_HOME=$data PATH="$prefix/bin:$PATH" "$prefix/bin/openinvoice" --user-folder --check-install \
  | grep -q "^working folder *$data/openinvoice$" || fail "--user-folder does not run in \$XDG_DATA_HOME/openinvoice"
[ -d "$data/openinvoice" ] || fail "the per-user folder was not created"
printf '%s' "$work/company" > "$data/openinvoice/DataPath.kxi"
# The window runs until it is closed; still running after three seconds means it
# started and stayed up.
set +e
(cd "$work/elsewhere" && XDG_DATA_HOME=$data PATH="$prefix/bin:$PATH" timeout 3 sh -c "exec $exec_line")
rc=$?
set -e
[ $rc -eq 124 ] || fail "the program started from the desktop entry ended with status $rc"
[ ! -e "$work/elsewhere/1stskin.kxi" ] && [ ! -e "$work/elsewhere/DataPath.kxi" ] \
  || fail "the desktop start wrote state files into the folder it was started from"

echo "test-install: all checks passed"
