# Shared by the scripts: install missing Debian packages, configure and build.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${KORVELAN380_BUILD_DIR:-$ROOT/build}"
JOBS="$(nproc 2>/dev/null || echo 2)"

# Installs the named Debian packages that are not installed yet (with what they recommend,
# unless NO_RECOMMENDS is set).
need_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq \
      ${NO_RECOMMENDS:+--no-install-recommends} "${missing[@]}"
  fi
}

BASE_PACKAGES=(cmake ninja-build g++ gcc libgtest-dev libgmock-dev)
# The command-line tool's argument parser and JSON library.
BASE_PACKAGES+=(libcli11-dev nlohmann-json3-dev)
# Its test panel: the HTTP server, and the plotting library built into the page.
BASE_PACKAGES+=(pkgconf libcpp-httplib-dev libjs-dygraphs)
# The open driver backend (drivers/ftdi), over libftdi1; without it that backend is not built.
BASE_PACKAGES+=(libftdi1-dev)

# configure_and_build DIR [cmake options...]
configure_and_build() {
  local dir="$1"
  shift
  cmake -S "$ROOT" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
}

# debian_source PACKAGE WORK: Debian's source package PACKAGE, Debian's patches applied, unpacked
# into WORK/source. It comes through the machine's own Debian sources, turned into source entries
# in an apt state of its own inside WORK: the system's apt configuration and lists are left
# alone. Returns 1 when apt cannot fetch it (no archive reachable). Needs dpkg-source (Debian:
# dpkg-dev).
debian_source() {
  local package="$1" work="$2" sources
  rm -rf "$work"
  mkdir -p "$work/parts" "$work/lists/partial" "$work/download"
  for sources in /etc/apt/sources.list.d/*.sources; do
    [ -f "$sources" ] && sed 's/^Types: deb$/Types: deb-src/' "$sources" >"$work/parts/$(basename "$sources")"
  done
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >"$work/parts/sources.list"
  fi
  local apt=(apt-get -q -o "Dir::Etc::SourceList=$work/none" -o "Dir::Etc::SourceParts=$work/parts"
    -o "Dir::State::Lists=$work/lists")
  "${apt[@]}" update >"$work/apt.log" 2>&1 || true
  if ! (cd "$work/download" && "${apt[@]}" source --download-only "$package" >>"$work/apt.log" 2>&1); then
    tail -5 "$work/apt.log" >&2
    return 1
  fi
  # apt checked the files against the archive's signed index; the .dsc's own signature would need
  # debian-keyring, so dpkg-source's warning about it is not shown.
  if ! dpkg-source -x "$work"/download/*.dsc "$work/source" >"$work/unpack.log" 2>&1; then
    cat "$work/unpack.log" >&2
    return 1
  fi
}

# Prints a stage heading.
stage() { printf '\n==== %s ====\n' "$1"; }
