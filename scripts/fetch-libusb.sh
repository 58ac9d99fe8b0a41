#!/usr/bin/env bash
# fetch-libusb.sh DIR: builds Debian's libusb-1.0 without udev into DIR/libusb-1.0.so.0, for the
# tests that run the open driver backend (libftdi1 over libusb) on the emulated FTDI chips.
# Debian's own libusb lists devices through udev, which reads sysfs, where the emulated chips are
# not; built without udev, libusb lists the device nodes in /dev/bus/usb, which the emulator
# serves. From Debian's source package with Debian's patches, through the machine's own apt
# sources (see debian_source in lib.sh). It stays in the build tree, never installed.
#
# Exit status: 0 DIR/libusb-1.0.so.0 is there; 77 the source cannot be fetched (no archive
# reachable: the tests that need it skip); 1 anything else (a failed build).
source "$(dirname "$0")/lib.sh"
SKIP=77

dir="${1:?usage: fetch-libusb.sh DIR}"
mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"
if [ -f "$dir/libusb-1.0.so.0" ]; then
  echo "libusb without udev is already in $dir"
  exit 0
fi
for tool in dpkg-source make ${CC:-cc}; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is not installed, so libusb cannot be built" >&2
    exit $SKIP
  fi
done
work="$dir/work"
if ! debian_source libusb-1.0 "$work"; then
  echo "SKIPPED: apt could not fetch Debian's source of libusb-1.0 (no archive reachable?)" >&2
  rm -rf "$work"
  exit $SKIP
fi
(
  cd "$work/source"
  ./configure --quiet --disable-udev --disable-static >"$work/build.log" 2>&1 &&
    make -j "$JOBS" >>"$work/build.log" 2>&1
) || {
  tail -20 "$work/build.log" >&2
  exit 1
}
cp -L "$work/source/libusb/.libs/libusb-1.0.so.0" "$dir/libusb-1.0.so.0.part"
mv "$dir/libusb-1.0.so.0.part" "$dir/libusb-1.0.so.0"
rm -rf "$work"
echo "libusb without udev built into $dir/libusb-1.0.so.0"
