#!/usr/bin/env bash
# `cmake --install` of a build, to a prefix whose name has a space and to a
# staging folder (DESTDIR): the layout, programs that find their library
# wherever the prefix is, files that name the prefix installed to and never
# the build tree. Then the installed agent, started by a private session
# bus from the installed activation file, answers the installed wakora
# command.
#
#   install-layout.sh <build folder> <library folder>
set -uo pipefail

build=$(cd "$1" && pwd -P)
libdir=$2
# shellcheck source-path=SCRIPTDIR source=checks.sh
source "$(dirname "$0")/checks.sh"

work=$(mktemp -d)
daemon=
agent=
cleanup() {
    [ -n "$agent" ] && kill -TERM "$agent" 2>/dev/null
    [ -n "$daemon" ] && kill -TERM "$daemon" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# --- a prefix of its own --------------------------------------------------

prefix="$work/a prefix"
if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    fail "cmake --install --prefix failed"
    finish "install layout"
fi
check_layout "$prefix" "$libdir"
check_named_paths "$prefix" "$prefix"
check_no_mention "$prefix" "$build" "the build tree"
usage_exits_2() { "$1" >/dev/null 2>&1; [ $? -eq 2 ]; }
check "the wakora command runs from the prefix (usage, exit 2)" usage_exits_2 "$prefix/bin/wakora"

# --- staged with DESTDIR ---------------------------------------------------

stage=$work/stage
if ! DESTDIR=$stage cmake --install "$build" --prefix /opt/wakora >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    fail "cmake --install with DESTDIR failed"
    finish "install layout"
fi
check "DESTDIR holds only the prefix" test "$(ls -A "$stage")" = opt
check_layout "$stage/opt/wakora" "$libdir"
check_named_paths "$stage/opt/wakora" /opt/wakora
check_no_mention "$stage" "$stage" "the staging folder"
check_no_mention "$stage" "$build" "the build tree"

# --- the build tree keeps its own copies -----------------------------------

check_named_paths "$build" "$build"

# --- the installed agent, activated by the bus ------------------------------

if ! command -v dbus-daemon >/dev/null || ! command -v dbus-send >/dev/null; then
    echo "SKIP: activation (dbus-daemon or dbus-send is not installed)"
    finish "install layout"
fi
home=$work/home
mkdir -p "$home"
cat >"$work/session.conf" <<EOF
<busconfig>
  <type>session</type>
  <listen>unix:path=$work/bus</listen>
  <auth>EXTERNAL</auth>
  <servicedir>$prefix/share/dbus-1/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
# What the bus passes on to the programs it starts: no display, a private
# home, and a system bus that does not exist (the lid-closed mode is not
# asked for here).
env -i PATH=/usr/bin:/bin HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" \
    XDG_RUNTIME_DIR="$home" QT_QPA_PLATFORM=offscreen DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/no-system-bus" \
    dbus-daemon --config-file="$work/session.conf" --nofork --print-address=3 3>"$work/address" 2>"$work/bus.log" &
daemon=$!
for _ in $(seq 100); do
    [ -s "$work/address" ] && break
    sleep 0.05
done
address=$(head -n 1 "$work/address")
bus() { dbus-send --bus="$address" --print-reply --reply-timeout=20000 --dest=org.freedesktop.DBus / "$@"; }

name=Q4WX7KD2RM.com.quorvel.WakoraApp.MenuBar
if bus org.freedesktop.DBus.StartServiceByName "string:$name" uint32:0 >"$work/reply" 2>&1; then
    agent=$(bus org.freedesktop.DBus.GetConnectionUnixProcessID "string:$name" | awk '/uint32/ { print $2 }')
    check "the bus ran the installed agent" \
        test "$(readlink "/proc/$agent/exe")" = "$prefix/libexec/wakora/WakoraMenuBar"
    status=$(env -i PATH=/usr/bin:/bin HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" \
        XDG_RUNTIME_DIR="$home" DBUS_SESSION_BUS_ADDRESS="$address" \
        DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/no-system-bus" "$prefix/bin/wakora" status 2>&1)
    check "the installed command reaches the installed agent (pid $agent)" grep -q "pid $agent" <<<"$status"
else
    cat "$work/reply"
    fail "the session bus could not start the agent from its installed activation file"
fi
if [ "$failures" -ne 0 ]; then
    echo "--- bus log"
    cat "$work/bus.log"
    echo "--- wakora status"
    echo "${status:-}"
fi
finish "install layout"
