#!/usr/bin/env bash
# FTDI's own D2XX driver for Linux x86-64, for the tests that run the library on it: fetched with
# npm inside the package ftdi-d2xx (pinned, checked against its recorded SHA-256), linked into
# DIR/libftd2xx.so. It is the vendor's, under the vendor's licence: it stays in the build tree
# and is never installed, packaged or committed.
#
#   scripts/fetch-d2xx.sh DIR
#
# Exit status: 0 DIR/libftd2xx.so is there; 77 npm or the registry cannot be reached (the tests
# that need the driver skip); 1 anything else (a wrong checksum, a failed link).
set -euo pipefail

PACKAGE=ftdi-d2xx
VERSION=1.3.1
SHA256=f5fda5be0336e900c6a2046d1b68c1ad51955a130b9336f7d04e02cbd4f2c8d5
ARCHIVE=package/lib/Linux/libftd2xx.a
SKIP=77

dir="${1:?usage: fetch-d2xx.sh DIR}"
mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"
stamp="$dir/libftd2xx.so.sha256"

if [ -f "$dir/libftd2xx.so" ] && [ "$(cat "$stamp" 2>/dev/null)" = "$SHA256" ]; then
  echo "FTDI's driver ($PACKAGE $VERSION) is already in $dir"
  exit 0
fi
if ! command -v npm >/dev/null; then
  echo "SKIPPED: npm is not installed, so FTDI's driver cannot be fetched" >&2
  exit $SKIP
fi
if [ "$(uname -s)-$(uname -m)" != Linux-x86_64 ]; then
  echo "SKIPPED: the driver in $PACKAGE is for Linux x86-64 only" >&2
  exit $SKIP
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
tarball="$work/$PACKAGE-$VERSION.tgz"
if ! (cd "$work" && timeout 300 npm pack "$PACKAGE@$VERSION" >"$work/npm.log" 2>&1) ||
  [ ! -f "$tarball" ]; then
  echo "SKIPPED: npm could not fetch $PACKAGE@$VERSION (no registry reachable?):" >&2
  grep -i "err" "$work/npm.log" | tail -5 >&2 || true
  exit $SKIP
fi
actual="$(sha256sum "$tarball" | cut -d' ' -f1)"
if [ "$actual" != "$SHA256" ]; then
  echo "$PACKAGE-$VERSION.tgz has SHA-256 $actual, not the recorded $SHA256: not used" >&2
  exit 1
fi
tar -xzf "$tarball" -C "$work" "$ARCHIVE"
${CXX:-g++} -shared -Wl,-soname,libftd2xx.so -o "$work/libftd2xx.so" \
  -Wl,--whole-archive "$work/$ARCHIVE" -Wl,--no-whole-archive -lpthread -lrt -ldl
mv "$work/libftd2xx.so" "$dir/libftd2xx.so"
echo "$SHA256" >"$stamp"
echo "FTDI's driver ($PACKAGE $VERSION) linked into $dir/libftd2xx.so"
