#!/usr/bin/env bash
# Installs the build tree into a fresh prefix, checks that the desktop files and icons land
# where desktops look for them, and runs the installed zerbrak-cli: it must find the start
# image in the installed data folder. Usage: install_and_run.sh CMAKE BUILD_DIR
set -euo pipefail
cmake="$1"
build="$2"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
prefix="$tmp/prefix"
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

"$cmake" --install "$build" --prefix "$prefix" >"$tmp/install.log" || {
    cat "$tmp/install.log" >&2
    fail "cmake --install"
}
id=org.zerbrak.Zerbrak
for file in bin/zerbrak bin/zerbrak-cli libexec/zerbrak/zerbrak-decoder \
    "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml" \
    "share/icons/hicolor/scalable/apps/$id.svg" "share/icons/hicolor/48x48/apps/$id.png" \
    "share/icons/hicolor/128x128/apps/$id.png" "share/icons/hicolor/256x256/apps/$id.png"; do
    [[ -s "$prefix/$file" ]] || fail "$file not installed"
done

home="$tmp/home"
mkdir -p "$home"
# Nothing may point the program back into the build tree.
env -u ZERBRAK_DATA_DIR HOME="$home" XDG_RUNTIME_DIR="$home" \
    "$prefix/bin/zerbrak-cli" --verbose frames --count 1 >"$tmp/out" 2>"$tmp/log" || {
    cat "$tmp/log" >&2
    fail "installed zerbrak-cli frames --count 1"
}
grep -q "^dostuff inPath: $prefix/share/zerbrak/" "$tmp/log" || {
    cat "$tmp/log" >&2
    fail "the start image was not taken from $prefix/share/zerbrak"
}
# The frame was decoded in the installed helper, not in-process for want of one.
if grep -q "decoding in-process" "$tmp/log"; then
    cat "$tmp/log" >&2
    fail "the installed zerbrak-cli did not find its decoder"
fi
frames=("$home"/Documents/zerbrak/*)
[[ ${#frames[@]} -eq 1 && -s "${frames[0]}" ]] || fail "expected one frame, found: ${frames[*]}"
grep -qxF "${frames[0]}" "$tmp/out" || fail "the frame's path was not printed"
echo "PASS: $(basename "${frames[0]}") from $prefix"
