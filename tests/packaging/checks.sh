# shellcheck shell=bash
# Shared by the packaging tests (sourced): counting failures, and what every
# installation of Wakora must look like wherever it was installed.

failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

check() { # description, command...
    local description=$1
    shift
    "$@" || fail "$description"
}

finish() { # what was checked
    if [ "$failures" -ne 0 ]; then
        echo "$1: $failures check(s) failed"
        exit 1
    fi
    echo "$1: all checks passed"
}

# check_layout <folder holding the prefix's files> <library folder>
# Every file of install-layout.txt is there, of its kind; nothing else is.
check_layout() {
    local tree=$1 libdir=$2 path kind file expected=()
    while read -r path kind; do
        case "$path" in '' | '#'*) continue ;; esac
        path=${path//LIBDIR/$libdir}
        expected+=("$path")
        file=$tree/$path
        case "$kind" in
        program)
            check "$path is an executable program" test -f "$file" -a -x "$file" -a ! -L "$file"
            check "$path finds libLidBridge.so in its own prefix" runs_from_prefix "$file" "$tree/$libdir/wakora"
            ;;
        library)
            check "$path is a library" test -f "$file" -a ! -L "$file"
            check "$path has the SONAME libLidBridge.so" has_soname "$file" libLidBridge.so
            ;;
        file) check "$path is a file anyone may read" test -f "$file" -a ! -x "$file" -a -r "$file" ;;
        esac
    done <"$(dirname "${BASH_SOURCE[0]}")/install-layout.txt"

    local found
    while IFS= read -r found; do
        printf '%s\n' "${expected[@]}" | grep -qxF -- "$found" || fail "unexpected file $found"
    done < <(cd "$tree" && find . ! -type d | sed 's|^\./||' | sort)
}

has_soname() { # library, name
    readelf -d "$1" | grep -q "(SONAME).*\[$2\]"
}

# A program needing libLidBridge.so has a RUNPATH relative to its own
# folder ($ORIGIN) that leads to the prefix's private library folder; others
# need no RUNPATH at all.
runs_from_prefix() { # program, private library folder of its prefix
    local program=$1 libdir=$2 runpath resolved
    if ! readelf -d "$program" | grep -q "(NEEDED).*\[libLidBridge.so\]"; then
        return 0
    fi
    runpath=$(readelf -d "$program" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
    # shellcheck disable=SC2016 # $ORIGIN is the loader's, not the shell's
    case "$runpath" in
    '$ORIGIN'/*) ;;
    *)
        echo "  RUNPATH of $program: '$runpath'"
        return 1
        ;;
    esac
    resolved=$(realpath -m "$(dirname "$program")/${runpath#\$ORIGIN/}")
    [ "$resolved" = "$(realpath -m "$libdir")" ] || {
        echo "  RUNPATH of $program leads to $resolved"
        return 1
    }
}

# check_named_paths <folder holding the prefix's files> <prefix as installed>
# Every line that names one of our programs names the one of this prefix.
check_named_paths() {
    local tree=$1 prefix=$2 share=$1/share
    check "the desktop entry runs this prefix's Wakora" \
        grep -qxF "Exec=\"$prefix/bin/Wakora\"" "$share/applications/com.quorvel.WakoraApp.desktop"
    check "the desktop entry tries this prefix's Wakora" \
        grep -qxF "TryExec=$prefix/bin/Wakora" "$share/applications/com.quorvel.WakoraApp.desktop"
    check "the session bus starts this prefix's agent" grep -qxF "Exec=\"$prefix/libexec/wakora/WakoraMenuBar\"" \
        "$share/dbus-1/services/Q4WX7KD2RM.com.quorvel.WakoraApp.MenuBar.service"
    check "the system bus starts this prefix's helper" grep -qxF "Exec=$prefix/libexec/wakora/wakora_helper" \
        "$share/dbus-1/system-services/com.quorvel.WakoraApp.helper.service"
    check "the autostart template starts this prefix's agent" grep -qxF "Exec=\"$prefix/libexec/wakora/WakoraMenuBar\"" \
        "$share/wakora/autostart/Q4WX7KD2RM.com.quorvel.WakoraApp.MenuBar.desktop"
}

# check_no_mention <folder> <text> <what the text is>
# No text file under the folder mentions the text (a build or staging path).
check_no_mention() {
    local mentions
    mentions=$(grep -rlIF -- "$2" "$1")
    [ -z "$mentions" ] || fail "installed files name $3 ($2): $mentions"
}
