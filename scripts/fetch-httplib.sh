#!/usr/bin/env bash
# fetch-httplib.sh DIR: puts cpp-httplib's whole httplib.h, declarations and code, in DIR, from
# Debian's source package with Debian's patches applied. Debian's libcpp-httplib-dev installs a
# header that only declares (the code is in a Linux library); the Windows tool compiles it all.
# Uses the machine's own Debian sources, turned into source entries in an apt state of its own
# inside DIR: the system's apt configuration and lists are left alone. Needs dpkg-source
# (Debian: dpkg-dev).
set -euo pipefail
dir="$1"
[ -f "$dir/httplib.h" ] && exit 0
work="$dir/apt"
rm -rf "$work"
mkdir -p "$work/parts" "$work/lists/partial" "$work/download"
for sources in /etc/apt/sources.list.d/*.sources; do
  [ -f "$sources" ] && sed 's/^Types: deb$/Types: deb-src/' "$sources" >"$work/parts/$(basename "$sources")"
done
if [ -f /etc/apt/sources.list ]; then
  sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >"$work/parts/sources.list"
fi
apt=(apt-get -q -o "Dir::Etc::SourceList=$work/none" -o "Dir::Etc::SourceParts=$work/parts"
  -o "Dir::State::Lists=$work/lists")
"${apt[@]}" update >/dev/null
(cd "$work/download" && "${apt[@]}" source --download-only cpp-httplib >/dev/null 2>&1)
# apt checked the files against the archive's signed index; the .dsc's own signature would need
# debian-keyring, so dpkg-source's warning about it is not shown.
if ! dpkg-source -x "$work"/download/cpp-httplib_*.dsc "$work/source" >"$work/unpack.log" 2>&1; then
  cat "$work/unpack.log" >&2
  exit 1
fi
cp "$work/source/httplib.h" "$dir/httplib.h.part"
mv "$dir/httplib.h.part" "$dir/httplib.h"
rm -rf "$work"
