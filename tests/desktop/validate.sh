#!/usr/bin/env bash
# The desktop entry and the AppStream metadata pass their validators. Skips (77) when a
# validator is missing (scripts/install-deps installs both).
set -euo pipefail
entry=$1
metainfo=$2
for tool in desktop-file-validate appstreamcli; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (scripts/install-deps installs it)"
    exit 77
  fi
done
desktop-file-validate "$entry"
# Anything above pedantic fails.
appstreamcli validate --strict --no-net --no-color "$metainfo"
