#!/usr/bin/env bash
# The .desktop entry and the AppStream metainfo must validate without errors, warnings or
# hints. Usage: validate_desktop_files.sh DESKTOP_ENTRY METAINFO
set -euo pipefail
desktop="$1"
metainfo="$2"
# desktop-file-validate prints hints and warnings without failing: any output counts.
report="$(desktop-file-validate "$desktop" 2>&1)" || true
if [[ -n "$report" ]]; then
    echo "$report" >&2
    echo "FAIL: $desktop" >&2
    exit 1
fi
appstreamcli validate --no-net --explain "$metainfo"
echo "PASS"
