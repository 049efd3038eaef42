#!/usr/bin/env bash
# The package's maintainer scripts, run against a temporary root
# (WAKORA_ROOT): what prerm gives back and whom it ends, what postinst
# creates, what a purge removes.
#
#   maintainer-scripts.sh <folder with wakora.postinst, wakora.prerm, wakora.postrm>
set -uo pipefail

scripts=$1
work=$(mktemp -d)
trap 'kill -KILL $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
# shellcheck source-path=SCRIPTDIR source=checks.sh
source "$(dirname "$0")/checks.sh"

# A fresh root with the installed programs' folders; /proc/PID/exe names
# canonical paths, so the root must be one too.
fresh_root() {
    root=$(mktemp -d "$work/root.XXXX")
    root=$(cd "$root" && pwd -P)
    mkdir -p "$root/usr/bin" "$root/usr/libexec/wakora" "$root/var/lib/wakora" "$root/run/systemd/logind.conf.d"
    marker=$root/var/lib/wakora/clamshell-owned
    dropin=$root/run/systemd/logind.conf.d/60-wakora-disablesleep.conf
    pmset_log=$root/pmset.log
}

# A stand-in for wakora-pmset that records its arguments and, when it
# succeeds, removes the drop-in as the real one does.
fake_pmset() { # exit status
    cat >"$root/usr/libexec/wakora/wakora-pmset" <<EOF
#!/bin/sh
echo "\$*" >>"$pmset_log"
[ $1 -eq 0 ] && rm -f "$dropin"
exit $1
EOF
    chmod 0755 "$root/usr/libexec/wakora/wakora-pmset"
}

# The exit status of a child process, waiting at most 15 seconds: one that
# still runs then is killed and answers 255, so a fault never hangs the test.
# A process has ended once it is a zombie or the shell has reaped it.
has_ended() { # pid
    local state
    state=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null) || return 0
    [ -z "$state" ] || [ "$state" = Z ]
}
status_of() { # pid
    local pid=$1
    for _ in $(seq 150); do
        has_ended "$pid" && break
        sleep 0.1
    done
    if ! has_ended "$pid"; then
        kill -KILL "$pid" 2>/dev/null
        { wait "$pid"; } 2>/dev/null
        return 255
    fi
    { wait "$pid"; } 2>/dev/null
}

run() { # script, argument...
    local script=$1
    shift
    WAKORA_ROOT=$root sh "$scripts/wakora.$script" "$@" >"$work/output" 2>&1
}

# --- prerm: the lid-closed setting -------------------------------------

fresh_root
fake_pmset 0
touch "$marker"
echo "[Login]" >"$dropin"
check "prerm remove exits 0 with the marker present" run prerm remove
check "prerm runs wakora-pmset -a disablesleep 0" grep -qx -- "-a disablesleep 0" "$pmset_log"
check "the drop-in is gone" test ! -e "$dropin"
check "the marker is gone" test ! -e "$marker"

fresh_root
fake_pmset 1
touch "$marker"
echo "[Login]" >"$dropin"
check "prerm remove exits 0 when wakora-pmset fails" run prerm remove
check "wakora-pmset was tried" test -s "$pmset_log"
check "the drop-in is removed without wakora-pmset" test ! -e "$dropin"
check "the marker is removed without wakora-pmset" test ! -e "$marker"

fresh_root
touch "$marker"
echo "[Login]" >"$dropin"
check "prerm deconfigure exits 0 without wakora-pmset installed" run prerm deconfigure
check "the drop-in is removed when wakora-pmset is missing" test ! -e "$dropin"
check "the marker is removed when wakora-pmset is missing" test ! -e "$marker"

fresh_root
fake_pmset 0
echo "[Login]" >"$dropin"
check "prerm remove exits 0 without a marker" run prerm remove
check "without the marker the setting is not ours: no wakora-pmset" test ! -e "$pmset_log"
check "without the marker the drop-in stays" test -e "$dropin"

fresh_root
fake_pmset 0
echo "elsewhere" >"$root/elsewhere"
ln -s "$root/elsewhere" "$marker"
echo "[Login]" >"$dropin"
check "prerm remove exits 0 with a link at the marker's path" run prerm remove
check "a link is not our marker: no wakora-pmset" test ! -e "$pmset_log"
check "a link at the marker's path is left alone" test -L "$marker"
check "its target is untouched" grep -qx elsewhere "$root/elsewhere"
check "the drop-in stays when the marker is not ours" test -e "$dropin"

fresh_root
fake_pmset 0
touch "$marker"
echo "[Login]" >"$dropin"
check "prerm upgrade exits 0" run prerm upgrade 0.2.0
check "an upgrade keeps the setting" test -e "$dropin"
check "an upgrade keeps the marker" test -e "$marker"
check "an upgrade runs no wakora-pmset" test ! -e "$pmset_log"

# --- prerm: running programs --------------------------------------------

fresh_root
sleep_program=$(command -v sleep)
for program in usr/libexec/wakora/WakoraMenuBar usr/libexec/wakora/wakora_helper usr/bin/Wakora usr/bin/other; do
    cp "$sleep_program" "$root/$program"
done
"$root/usr/libexec/wakora/WakoraMenuBar" 600 &
agent=$!
"$root/usr/bin/Wakora" 600 &
window=$!
# A program that ignores SIGTERM (ignored signals stay ignored across exec).
bash -c "trap '' TERM; exec '$root/usr/libexec/wakora/wakora_helper' 600" &
stubborn=$!
"$root/usr/bin/other" 600 &
other=$!
# Wait until each process runs its own program, not the shell before exec.
for pid in $agent $window $stubborn $other; do
    for _ in $(seq 100); do
        case "$(readlink "/proc/$pid/exe")" in "$root"/*) break ;; esac
        sleep 0.05
    done
done

started=$SECONDS
check "prerm remove exits 0 with programs running" run prerm remove
status_of $agent
check "the agent ends with SIGTERM" test $? -eq 143
status_of $window
check "the window ends with SIGTERM" test $? -eq 143
status_of $stubborn
check "a program that ignores SIGTERM is killed" test $? -eq 137
check "prerm says it killed one" grep -q "ending by force" "$work/output"
check "prerm waits at most a few seconds" test $((SECONDS - started)) -lt 30
check "another program of the same root keeps running" kill -0 $other
kill -KILL $other
wait $other 2>/dev/null

# The same program in a pid namespace of its own (a container's): its exe
# reads the same from here, and it is not ours to end.
if unshare --pid --fork --mount-proc true 2>/dev/null; then
    unshare --pid --fork --kill-child --mount-proc "$root/usr/libexec/wakora/WakoraMenuBar" 600 &
    contained=$!
    contained_agent=
    for _ in $(seq 100); do
        contained_agent=$(pgrep -P "$contained" 2>/dev/null | head -n 1)
        [ -n "$contained_agent" ] && [ "$(readlink "/proc/$contained_agent/exe")" = "$root/usr/libexec/wakora/WakoraMenuBar" ] && break
        sleep 0.05
    done
    check "prerm remove exits 0 beside a contained agent" run prerm remove
    check "an agent in another pid namespace keeps running" kill -0 "$contained_agent"
    kill -KILL "$contained_agent" $contained 2>/dev/null
    wait $contained 2>/dev/null
else
    echo "SKIP: an agent in another pid namespace keeps running: unshare --pid is not allowed here"
fi

# --- postinst: an upgrade hands the old helper over ----------------------

fresh_root
cp "$sleep_program" "$root/usr/libexec/wakora/wakora_helper"
cp "$sleep_program" "$root/usr/libexec/wakora/WakoraMenuBar"
"$root/usr/libexec/wakora/wakora_helper" 600 &
old_helper=$!
"$root/usr/libexec/wakora/WakoraMenuBar" 600 &
running_agent=$!
for pid in $old_helper $running_agent; do
    for _ in $(seq 100); do
        case "$(readlink "/proc/$pid/exe")" in "$root"/*) break ;; esac
        sleep 0.05
    done
done
check "postinst configure (an upgrade) exits 0" run postinst configure 0.1.0
status_of $old_helper
check "the old helper is told to hand over (SIGUSR1)" test $? -eq 138
check "the agent keeps running across the upgrade" kill -0 $running_agent
kill -KILL $running_agent
wait $running_agent 2>/dev/null

# --- postinst: an upgrade asks the users' agents to hand over -------------

# Agents still running a replaced file: one that catches SIGUSR1 (a copy of
# the shell with a trap) and one that does not (a copy of sleep, as an agent
# from before the hand-over would be ended by the signal).
fresh_root
agent=$root/usr/libexec/wakora/WakoraMenuBar
replace_agent() { # program
    cp "$1" "$agent.dpkg-new" && mv -f "$agent.dpkg-new" "$agent"
}
wait_for_exe() { # pid
    for _ in $(seq 100); do
        case "$(readlink "/proc/$1/exe")" in "$root"/*) return 0 ;; esac
        sleep 0.05
    done
}
replace_agent "$(command -v dash || command -v sh)"
"$agent" -c 'trap "exit 42" USR1; while :; do sleep 0.1; done' &
catching_agent=$!
wait_for_exe $catching_agent
replace_agent "$sleep_program"
"$agent" 600 &
plain_agent=$!
wait_for_exe $plain_agent
replace_agent "$sleep_program"
check "postinst configure (an upgrade) exits 0 with old agents" run postinst configure 0.1.0
status_of $catching_agent
check "an old agent that catches SIGUSR1 is told to hand over" test $? -eq 42
check "an old agent that does not catch it keeps running" kill -0 $plain_agent
# A first installation asks nobody.
replace_agent "$(command -v dash || command -v sh)"
"$agent" -c 'trap "exit 42" USR1; while :; do sleep 0.1; done' &
current_agent=$!
wait_for_exe $current_agent
replace_agent "$sleep_program"
check "postinst configure (a first installation) exits 0" run postinst configure
check "a first installation leaves the agents alone" kill -0 $current_agent
kill -KILL $plain_agent $current_agent
wait $plain_agent $current_agent 2>/dev/null

# --- postinst and postrm: the state folder -------------------------------

fresh_root
rmdir "$root/var/lib/wakora"
check "postinst configure exits 0" run postinst configure
check "postinst creates /var/lib/wakora" test -d "$root/var/lib/wakora"
check "mode 0755" test "$(stat -c %a "$root/var/lib/wakora")" = 755
if [ "$(id -u)" -eq 0 ]; then
    check "owned by root" test "$(stat -c %u:%g "$root/var/lib/wakora")" = 0:0
fi
chmod 0777 "$root/var/lib/wakora"
check "postinst runs again" run postinst configure
check "a folder others could write to is made 0755 again" test "$(stat -c %a "$root/var/lib/wakora")" = 755

check "postrm remove exits 0" run postrm remove
check "a removal keeps the state folder" test -d "$root/var/lib/wakora"
touch "$root/var/lib/wakora/kept"
check "postrm purge exits 0 with a file left in the folder" run postrm purge
check "a folder that is not empty stays" test -e "$root/var/lib/wakora/kept"
rm "$root/var/lib/wakora/kept"
check "postrm purge exits 0" run postrm purge
check "purge removes the empty folder" test ! -e "$root/var/lib/wakora"
check "a second purge exits 0" run postrm purge

[ "$failures" -eq 0 ] || { echo "last script output:"; cat "$work/output"; }
finish "maintainer scripts"
