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

# configure_and_build DIR [cmake options...]
configure_and_build() {
  local dir="$1"
  shift
  cmake -S "$ROOT" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
}

# Prints a stage heading.
stage() { printf '\n==== %s ====\n' "$1"; }
