#!/bin/sh
# Pictures of the real Wakora in its fixture mode under Xvfb, for the README,
# the documentation and the AppStream description, in GNOME's light and dark
# Adwaita (Qt follows it through its GTK platform theme):
#   Wakora/tools/screenshots.sh BUILD_DIR OUT_DIR
# Needs Xvfb, a Hangul font and Qt's GTK platform theme (Debian: xvfb,
# fonts-nanum, qt6-gtk-platformtheme).
set -eu
build=${1:?usage: screenshots.sh BUILD_DIR OUT_DIR}
out=${2:?usage: screenshots.sh BUILD_DIR OUT_DIR}
mkdir -p "$out"
display=:$(( ($$ % 400) + 100 ))
Xvfb "$display" -screen 0 1100x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null' EXIT
sleep 1

# shoot NAME THEME [ARGUMENT...]
shoot() {
    name=$1
    theme=$2
    shift 2
    DISPLAY=$display QT_QPA_PLATFORM=xcb QT_QPA_PLATFORMTHEME=gtk3 GTK_THEME=$theme \
        DBUS_SESSION_BUS_ADDRESS=disabled: "$build/bin/Wakora" --ui-testing "$@" >/dev/null 2>&1 &
    app=$!
    sleep 2
    DISPLAY=$display "$build/tools/wakora-screen-grab" "$out/main-window$name.png"
    kill $app
    wait $app 2>/dev/null || true
}

shoot "" Adwaita
shoot -dark Adwaita:dark
shoot -menubar-off Adwaita --menubar-off
shoot -clamshell-approval Adwaita --clamshell-approval
shoot -clamshell-system Adwaita --clamshell-system
shoot -history-empty Adwaita --history-empty
shoot -screenshots Adwaita --screenshots
shoot -screenshots-dark Adwaita:dark --screenshots
