#!/usr/bin/env bash
# The generated manual pages format without a warning and carry their names. Skips (77)
# without groff.
set -euo pipefail
if ! command -v groff >/dev/null; then
  echo "SKIP: groff is not installed"
  exit 77
fi
status=0
for page in "$@"; do
  warnings=$(groff -man -ww -z "$page" 2>&1)
  if [[ -n "$warnings" ]]; then
    echo "FAIL: $page: $warnings"
    status=1
  fi
  # Every font change was read as one, none printed.
  if groff -man -Tascii "$page" 2>/dev/null | grep -q '\\f'; then
    echo "FAIL: $page prints a font change"
    status=1
  fi
  name=$(basename "$page" .1)
  if ! groff -man -Tascii "$page" 2>/dev/null | grep -q "^ *${name} - "; then
    echo "FAIL: $page does not name $name"
    status=1
  fi
done
exit $status
