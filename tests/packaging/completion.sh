#!/usr/bin/env bash
# The bash completion of wakora, as bash calls it: the function the file
# registers gets COMP_WORDS and COMP_CWORD and answers in COMPREPLY. Verbs
# (every one the command's source names), options, and the ids of the
# desktop entries of a temporary XDG_DATA_HOME and XDG_DATA_DIRS after
# `rule app`: shown ones only, the user's own entry first, sub-folders
# joined by "-".
#
#   completion.sh <build folder> <source folder>
set -uo pipefail

build=$1
source_dir=$2
# shellcheck source-path=SCRIPTDIR source=checks.sh
source "$(dirname "$0")/checks.sh"

completion=$build/share/bash-completion/completions/wakora
check "the build tree holds the bash completion" test -f "$completion"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# --- desktop entries ---------------------------------------------------------

entry() { # file, lines of the [Desktop Entry] group...
    local file=$1
    shift
    mkdir -p "$(dirname "$file")"
    printf '%s\n' "[Desktop Entry]" "$@" >"$file"
}
system=$work/system/applications
other=$work/other/applications
user=$work/home/.local/share/applications
entry "$system/org.gnome.Totem.desktop" Type=Application Name=Videos Exec=totem
entry "$system/org.example.Editor.desktop" Type=Application Name=Editor Exec=editor
entry "$system/kde/org.kde.kate.desktop" Type=Application Name=Kate Exec=kate
entry "$system/helper.desktop" Type=Application Name=Helper Exec=helper NoDisplay=true
entry "$system/web.desktop" Type=Link Name=Web URL=https://example.com
# An action's NoDisplay is not the entry's.
entry "$system/org.example.Player.desktop" Type=Application Name=Player Exec=player "" "[Desktop Action x]" \
    NoDisplay=true
# Hidden by the user's own entry of the same id, which comes first.
entry "$other/org.example.Editor.desktop" Type=Application Name=Editor2 Exec=editor2
entry "$user/org.gnome.Totem.desktop" Type=Application Name=Videos Hidden=true
entry "$user/my.own.Tool.desktop" Type=Application Name=Tool Exec=tool

# complete <words...>: what the completion offers for the last word, sorted,
# one line.
complete_words() {
    HOME=$work/home XDG_DATA_HOME='' XDG_DATA_DIRS="$work/system:$work/other" \
        bash -c 'source "$1"; shift
            COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
            COMPREPLY=()
            _wakora wakora "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
            printf "%s\n" "${COMPREPLY[@]}" | sort -u | paste -sd " "' bash "$completion" "$@"
}
offers() { # wanted, words...
    local wanted=$1 got
    shift
    got=$(complete_words "$@")
    [ "$got" = "$wanted" ] || {
        echo "  [$*] offers \"$got\", not \"$wanted\""
        return 1
    }
}

# --- verbs and options --------------------------------------------------------

verbs=$(grep -ho 'verb == u"[a-z]*"' "$source_dir"/Wakora/command/*.cpp | sed 's/.*"\(.*\)"/\1/' | sort -u |
    paste -sd " ")
check "the command's source names its verbs" test "$(wc -w <<<"$verbs")" -ge 8
check "every verb after wakora" offers "$verbs" wakora ""
check "verbs by their first letters" offers "status" wakora st
check "status takes --json" offers "--json" wakora status -
check "usage takes --json" offers "--json" wakora usage ""
check "off takes --display" offers "--display" wakora off ""
check "toggle takes --display" offers "--display" wakora toggle ""
check "on takes --display, --for, --until, --then-suspend" offers "--display --for --then-suspend --until" wakora on ""
check "on offers what is not given yet" offers "--for --then-suspend --until" wakora on --display ""
check "on offers one of --for and --until" offers "--display --then-suspend" wakora on --for 2h ""
check "--then-suspend is offered once" offers "--display" wakora on --for 2h --then-suspend ""
check "lengths after --for" offers "15m 1h 1h30m 2h 30m 5h" wakora on --for ""
check "lid takes on, off or guard" offers "guard off on" wakora lid ""
check "nothing after lid on" offers "" wakora lid on ""
check "the lid's guards" offers "bag power thermal" wakora lid guard ""
check "a guard takes on or off" offers "off on" wakora lid guard thermal ""
check "the bag guard takes minutes or off" offers "10 20 30 off" wakora lid guard bag ""
check "the rules" offers "ac app battery busy fullscreen media remote schedule" wakora rule ""
check "rule ac takes on or off" offers "off on" wakora rule ac ""
check "a trigger takes on or off" offers "off on" wakora rule media ""
check "a trigger's display either way" offers "--display --no-display" wakora rule media on ""
check "the display once" offers "" wakora rule remote on --no-display ""
check "busy takes its thresholds" offers "--cpu --display --net --no-display --settle" wakora rule busy on ""
check "busy offers what is not given yet" offers "--cpu --display --no-display --settle" wakora rule busy on --net 1M ""
check "rates after --net" offers "100k 1M 500k" wakora rule busy on --net ""
check "lengths after --settle" offers "2m 30s 5m" wakora rule busy on --settle ""
check "nothing after a trigger off" offers "" wakora rule busy off ""
check "hold takes --display and --" offers "-- --display" wakora hold ""

# --- desktop-entry ids after rule app ------------------------------------------

check "rule app offers the shown entries' ids and off" \
    offers "kde-org.kde.kate my.own.Tool off org.example.Editor org.example.Player" wakora rule app ""
check "rule app completes an id from its start" offers "org.example.Editor org.example.Player" wakora rule app org.ex
check "--display after an application" offers "--display" wakora rule app org.example.Editor ""
check "nothing after rule app off" offers "" wakora rule app off ""

# --- after hold --, a command ----------------------------------------------------

offers_command() { complete_words wakora hold -- bas | grep -qw bash; }
check "a command after hold --" offers_command

finish "bash completion"
