#!/bin/sh
# Pictures of the real Wakora in its fixture mode under Xvfb, for the README:
#   Wakora/tools/screenshots.sh BUILD_DIR OUT_DIR
# Needs Xvfb and a Hangul font (Debian: xvfb, fonts-nanum).
set -eu
build=${1:?usage: screenshots.sh BUILD_DIR OUT_DIR}
out=${2:?usage: screenshots.sh BUILD_DIR OUT_DIR}
mkdir -p "$out"
display=:$(( ($$ % 400) + 100 ))
Xvfb "$display" -screen 0 1100x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null' EXIT
sleep 1

shoot() {
    name=$1
    shift
    DISPLAY=$display QT_QPA_PLATFORM=xcb "$build/bin/Wakora" --ui-testing "$@" >/dev/null 2>&1 &
    app=$!
    sleep 2
    DISPLAY=$display "$build/tools/wakora-screen-grab" "$out/main-window$name.png"
    kill $app
    wait $app 2>/dev/null || true
}

shoot ""
shoot -menubar-off --menubar-off
shoot -clamshell-approval --clamshell-approval
shoot -clamshell-system --clamshell-system
shoot -history-empty --history-empty
shoot -screenshots --screenshots
