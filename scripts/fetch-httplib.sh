#!/usr/bin/env bash
# fetch-httplib.sh DIR: puts cpp-httplib's whole httplib.h, declarations and code, in DIR, from
# Debian's source package with Debian's patches applied. Debian's libcpp-httplib-dev installs a
# header that only declares (the code is in a Linux library); the Windows tool compiles it all.
source "$(dirname "$0")/lib.sh"
dir="$1"
[ -f "$dir/httplib.h" ] && exit 0
work="$dir/apt"
debian_source cpp-httplib "$work"
cp "$work/source/httplib.h" "$dir/httplib.h.part"
mv "$dir/httplib.h.part" "$dir/httplib.h"
rm -rf "$work"
