#!/bin/sh
# Runs a Windows program under Wine: 64-bit, headless, quiet, in a prefix of its own unless
# WINEPREFIX names one. The exit status is the program's.
export WINEPREFIX="${WINEPREFIX:-${TMPDIR:-/tmp}/korvelan380-wine-$(id -u)}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko: nothing here needs them, and the prefix is made without asking for them.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY WAYLAND_DISPLAY
exec wine "$@"
