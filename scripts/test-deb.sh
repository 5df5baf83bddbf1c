#!/usr/bin/env bash
# Builds the Debian package with CPack, then installs it with apt into a throwaway
# Debian 12 root made by debootstrap, as on a fresh machine: apt must bring every
# dependency, the installed program must find its files and open its window, and
# removing the package must leave nothing of it behind. Needs root, debootstrap and a
# Debian mirror; takes a few minutes, so it runs apart from the test suite.
#   bash scripts/test-deb.sh [BUILD_DIR]     (default: build, already built)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
fail() { echo "test-deb: $*" >&2; exit 1; }
step() { echo "-- $* ($(date +%T))"; }
[ "$(id -u)" -eq 0 ] || fail "run as root (debootstrap and chroot need it)"
bash "$root/scripts/install-deps.sh" --package

step "build the package"
rm -rf "$build/package"
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/package/openinvoice_*.deb)
dpkg-deb -I "$deb"
depends=$(dpkg-deb -f "$deb" Depends)
for need in libqt6widgets6 libqt6multimedia6 xdg-utils fonts-liberation; do
  [[ "$depends" == *"$need"* ]] || fail "Depends lacks $need: $depends"
done
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/openinvoice ./usr/bin/btrexport ./usr/bin/mkcompany \
         ./usr/share/openinvoice/openinvoice.html ./usr/share/openinvoice/skins/grey.skn \
         ./usr/share/applications/example.corvane.OpenInvoice.desktop \
         ./usr/share/metainfo/example.corvane.OpenInvoice.metainfo.xml \
         ./usr/share/icons/hicolor/256x256/apps/openinvoice.png ./usr/share/man/man1/openinvoice.1.gz; do
  grep -q " $f\$" <<<"$contents" || fail "the package lacks $f"
done

target=$(mktemp -d /var/tmp/openinvoice-root.XXXXXX)
cleanup() {
  umount "$target/proc" 2>/dev/null || true
  rm -rf "$target"
}
trap cleanup EXIT
step "debootstrap a minimal Debian 12 into $target"
debootstrap --variant=minbase bookworm "$target" "$mirror" >"$target.log" 2>&1 \
  || { tail -20 "$target.log"; fail "debootstrap failed"; }
rm -f "$target.log"
mount -t proc proc "$target/proc" 2>/dev/null || true
in_root() { chroot "$target" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
  DEBIAN_FRONTEND=noninteractive "$@"; }

step "apt install ./$(basename "$deb")"
cp "$deb" "$target/tmp/"
in_root apt-get install -y "/tmp/$(basename "$deb")" >"$target/tmp/apt.log" 2>&1 \
  || { tail -30 "$target/tmp/apt.log"; fail "apt could not install the package"; }
grep -E '^(Need to get|After this operation)' "$target/tmp/apt.log" || true

step "the installed program finds its files and opens its window"
in_root sh -c 'cd /tmp && openinvoice --check-install'
in_root sh -c 'mkcompany /tmp/company --customers 20 --journal-rows 200 && btrexport --info /tmp/company/customer.dat >/dev/null'
set +e
in_root sh -c 'mkdir -p /tmp/run && cd /tmp/run && printf %s /tmp/company > DataPath.kxi &&
  QT_QPA_PLATFORM=offscreen timeout 5 openinvoice'
rc=$?
set -e
[ $rc -eq 124 ] || fail "the window ended with status $rc instead of staying open"

step "apt remove --purge"
in_root apt-get remove --purge -y openinvoice >"$target/tmp/remove.log" 2>&1 \
  || { tail -20 "$target/tmp/remove.log"; fail "apt could not remove the package"; }
for f in /usr/bin/openinvoice /usr/bin/btrexport /usr/bin/mkcompany /usr/share/openinvoice \
         /usr/share/applications/example.corvane.OpenInvoice.desktop /usr/share/man/man1/openinvoice.1.gz; do
  [ ! -e "$target$f" ] || fail "$f is left after removal"
done
in_root dpkg -s openinvoice >/dev/null 2>&1 && fail "dpkg still lists openinvoice"
echo "test-deb: $(basename "$deb") installs, runs and removes cleanly"
