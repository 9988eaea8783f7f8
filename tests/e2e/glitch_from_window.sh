#!/usr/bin/env bash
# The real window on a virtual screen: Ctrl+Return must write one frame of the start image
# into ~/Documents/zerbrak/ and Ctrl+Q must quit. Usage: glitch_from_window.sh ZERBRAK_BINARY
set -euo pipefail
binary="$1"
home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_RUNTIME_DIR="$home" QT_QPA_PLATFORM=xcb

run() {
    "$binary" >"$home/log" 2>&1 &
    local pid=$!
    # --sync waits until the window is mapped; Qt also makes unmapped helper windows that
    # carry the title, hence --onlyvisible. There is no window manager to activate it.
    local window
    window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Zerbrak$' | head -1)
    xdotool windowfocus --sync "$window"
    sleep 1 # let the window take focus before the keys
    xdotool key --window "$window" ctrl+Return
    for _ in $(seq 1 100); do
        compgen -G "$home/Documents/zerbrak/*" >/dev/null && break
        sleep 0.2
    done
    # The window may be gone before the key-up events reach it; that is the point.
    xdotool key --window "$window" ctrl+q 2>/dev/null || true
    for _ in $(seq 1 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.2
    done
    if kill -0 "$pid" 2>/dev/null; then
        kill "$pid"
        echo "FAIL: Ctrl+Q did not quit" >&2
        exit 1
    fi
}
run

frames=("$home"/Documents/zerbrak/*)
if [[ ${#frames[@]} -ne 1 || ! -s "${frames[0]}" ]]; then
    echo "FAIL: expected one frame, found: ${frames[*]}" >&2
    cat "$home/log" >&2
    exit 1
fi
grep -q '^numberofframes: 0$' "$home/log" || { echo "FAIL: no frame logged" >&2; exit 1; }
echo "PASS: $(basename "${frames[0]}")"
