#!/usr/bin/env bash
# The manual pages the build wrote: man and groff read them without a
# warning (as lintian runs man), and each documents what its program takes,
# as the program's source names it: every verb and option of wakora, every
# flag of Wakora. A verb or flag added to the code without a word in its
# page fails here.
#
#   manual-pages.sh <build folder> <source folder>
set -uo pipefail

build=$1
source_dir=$2
# shellcheck source-path=SCRIPTDIR source=checks.sh
source "$(dirname "$0")/checks.sh"

for tool in man groff; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed"
        exit 77
    fi
done
pages=$build/share/man/man1
export LC_ALL=C.UTF-8 MANWIDTH=80 MANROFFSEQ=''

# man's output as plain text, and its warnings, the way lintian asks for them.
render() { # page, warnings file
    man --warnings -E UTF-8 -l -Tutf8 "$1" 2>"$2" | col -b
}
no_warnings() { # what, file
    [ ! -s "$2" ] || {
        echo "  $1:"
        sed 's/^/    /' "$2"
        return 1
    }
}
# An entry of a list is its term alone at the page's first indent.
has_entry() { # text, term (extended regular expression)
    grep -Eq "^ {7}$2( |$)" <<<"$1"
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for page in wakora Wakora; do
    file=$pages/$page.1.gz
    if [ ! -f "$file" ]; then
        fail "the build wrote no $file"
        continue
    fi
    text=$(render "$file" "$work/$page.man")
    check "man reads $page(1) without a warning" no_warnings "man" "$work/$page.man"
    zcat "$file" | groff -k -Tutf8 -ww -z -man 2>"$work/$page.groff"
    check "groff -ww reads $page(1) without a warning" no_warnings "groff" "$work/$page.groff"
    check "$page(1) is named $page in its NAME section" grep -Eq "^ {7}$page - " <<<"$text"
    printf -v "text_$page" '%s' "$text"
done

# shellcheck disable=SC2154 # set by printf -v above
command_page=$text_wakora
verbs=$(grep -ho 'verb == u"[a-z]*"' "$source_dir"/Wakora/command/*.cpp | sed 's/.*"\(.*\)"/\1/' | sort -u)
options=$(grep -hoE '(u|QStringLiteral\()"--[a-z-]+"' "$source_dir"/Wakora/command/*.cpp | grep -o -- '--[a-z-]*' |
    sort -u)
check "the command's source names its verbs" test "$(wc -w <<<"$verbs")" -ge 8
check "the command's source names its options" test "$(wc -w <<<"$options")" -ge 4
for verb in $verbs; do
    check "wakora(1) describes the verb $verb" has_entry "$command_page" "\\*?$verb"
    check "wakora(1) shows $verb in its synopsis" grep -Eq "^ {7}wakora $verb( |$)" <<<"$command_page"
done
for option in $options; do
    check "wakora(1) describes the option $option" has_entry "$command_page" "$option"
done
# The exit statuses are WakoraCommand::ExitStatus.
statuses=$(sed -n '/enum ExitStatus/,/};/p' "$source_dir/Wakora/command/WakoraCommand.h" | grep -oE '= [0-9]+' |
    tr -d '= ')
check "the command's header names its exit statuses" test "$(wc -w <<<"$statuses")" -ge 5
for status in $statuses; do
    check "wakora(1) describes the exit status $status" has_entry "$command_page" "$status"
done

# shellcheck disable=SC2154 # set by printf -v above
window_page=$text_Wakora
flags=$(grep -hoE 'QLatin1String\("--[a-z-]+"' "$source_dir"/Wakora/*.cpp | grep -o -- '--[a-z-]*' | sort -u)
check "the window's source names its flags" test "$(wc -w <<<"$flags")" -ge 9
for flag in $flags; do
    check "Wakora(1) describes the flag $flag" has_entry "$window_page" "$flag"
done

finish "manual pages"
