# shellcheck shell=bash
# What the check scripts share (sourced, not run): stopping with a message, noting a failure and
# going on so that one run reports them all, comparing output, and a temporary folder, $work,
# that goes away when the script ends, however it ends.
#   source "$(dirname "${BASH_SOURCE[0]}")/../support/check_lib.sh"

failures=0
# A folder for the script's own files.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# fail MESSAGE...: stops the check here.
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# problem MESSAGE...: notes a failure and goes on; `finish` then exits with 1.
problem() {
  echo "$*" >&2
  failures=$((failures + 1))
}

# expect WHAT EXPECTED ACTUAL: one value.
expect() {
  [ "$2" = "$3" ] || problem "$(printf '%s\n  expected: %s\n  got:      %s' "$1" "$2" "$3")"
}

# expect_lines WHAT EXPECTED ACTUAL: lists, one item a line, shown as a diff where they differ.
expect_lines() {
  diff <(echo "$2") <(echo "$3") >&2 || problem "$1 differ (< expected, > actual)"
}

# step TEXT: a heading for what the check does next.
step() { printf '\n-- %s\n' "$*"; }

# finish: exits with 0 when no problem was noted, else 1.
finish() {
  [ "$failures" -eq 0 ] || echo "$failures problem(s)" >&2
  exit $((failures > 0))
}
