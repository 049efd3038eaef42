# bash completion for wakora(1)                            -*- shell-script -*-

# The ids of the desktop entries a user sees as applications, for `rule app`:
# every *.desktop under applications/ of XDG_DATA_HOME, then of each folder
# of XDG_DATA_DIRS (the first of an id wins, as the desktop reads them),
# named by their desktop file ids (sub-folders joined
# by "-", without ".desktop"), without those of another Type, NoDisplay or
# Hidden. One awk reads the entries of a folder.
_wakora_desktop_ids()
{
    local data_dirs folder path verdict id
    local -A seen=()
    IFS=: read -r -a data_dirs <<<"${XDG_DATA_HOME:-$HOME/.local/share}:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}"
    for folder in "${data_dirs[@]}"; do
        [[ -n $folder && -d $folder/applications ]] || continue
        # shellcheck disable=SC2016 # awk's program, not the shell's
        while IFS=$'\t' read -r verdict path; do
            id=${path#"$folder/applications/"}
            id=${id%.desktop}
            id=${id//\//-}
            [[ -n ${seen[$id]+set} ]] && continue
            seen[$id]=1
            [[ $verdict == shown ]] && printf '%s\n' "$id"
        done < <(find "$folder/applications" -name '*.desktop' \( -type f -o -type l \) -print0 2>/dev/null |
            xargs -0 -r awk '
                function verdict() {
                    if (file != "")
                        printf "%s\t%s\n", (type == "Application" && !hidden) ? "shown" : "hidden", file
                }
                FNR == 1 { verdict(); file = FILENAME; group = ""; type = ""; hidden = 0 }
                /^\[/ { group = $0; next }
                group != "[Desktop Entry]" { next }
                /^Type[ \t]*=/ { value = $0; sub(/^[^=]*=[ \t]*/, "", value); sub(/[ \t\r]+$/, "", value); type = value }
                /^(NoDisplay|Hidden)[ \t]*=[ \t]*true[ \t\r]*$/ { hidden = 1 }
                END { verdict() }')
    done
}

_wakora()
{
    # The words as bash split them; bash-completion's _init_completion is
    # not needed for words without quotes or "=".
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local words=("${COMP_WORDS[@]}") cword=$COMP_CWORD

    local verbs="status on off toggle rule lid usage hold"
    if ((cword == 1)); then
        mapfile -t COMPREPLY < <(compgen -W "$verbs" -- "$cur")
        return
    fi

    local verb=${words[1]} i
    case $verb in
    status | usage)
        mapfile -t COMPREPLY < <(compgen -W "--json" -- "$cur")
        ;;
    off | toggle)
        mapfile -t COMPREPLY < <(compgen -W "--display" -- "$cur")
        ;;
    on)
        case $prev in
        --for)
            mapfile -t COMPREPLY < <(compgen -W "15m 30m 1h 1h30m 2h 5h" -- "$cur")
            return
            ;;
        --until)
            return
            ;;
        esac
        local options="--display --for --until --then-suspend" word
        for word in "${words[@]:2:cword-2}"; do
            case $word in
            --display) options=${options/--display/} ;;
            --then-suspend) options=${options/--then-suspend/} ;;
            --for* | --until*) options=${options/--for/} options=${options/--until/} ;;
            esac
        done
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        ;;
    lid)
        if ((cword == 2)); then
            mapfile -t COMPREPLY < <(compgen -W "on off guard" -- "$cur")
        elif ((cword == 3)) && [[ $prev == guard ]]; then
            mapfile -t COMPREPLY < <(compgen -W "power bag thermal" -- "$cur")
        elif ((cword == 4)); then
            case $prev in
            power | thermal) mapfile -t COMPREPLY < <(compgen -W "on off" -- "$cur") ;;
            bag) mapfile -t COMPREPLY < <(compgen -W "off 10 20 30" -- "$cur") ;;
            esac
        fi
        ;;
    rule)
        if ((cword == 2)); then
            mapfile -t COMPREPLY < <(compgen -W "ac battery app media fullscreen remote busy schedule" -- "$cur")
        elif ((cword == 3)); then
            case $prev in
            ac | media | fullscreen | remote | busy | schedule)
                mapfile -t COMPREPLY < <(compgen -W "on off" -- "$cur")
                ;;
            battery) mapfile -t COMPREPLY < <(compgen -W "off 10 20 30" -- "$cur") ;;
            app) mapfile -t COMPREPLY < <(compgen -W "off $(_wakora_desktop_ids)" -- "$cur") ;;
            esac
        elif ((cword == 4)) && [[ ${words[2]} == app && ${words[3]} != off ]]; then
            mapfile -t COMPREPLY < <(compgen -W "--display" -- "$cur")
        elif ((cword >= 4)) && [[ ${words[2]} =~ ^(media|fullscreen|remote|busy|schedule)$ && ${words[3]} != off ]]; then
            # A trigger's options: the busy thresholds, and the display
            # either way, each once.
            case $prev in
            --net) mapfile -t COMPREPLY < <(compgen -W "100k 500k 1M" -- "$cur") && return ;;
            --cpu) mapfile -t COMPREPLY < <(compgen -W "25 50 75" -- "$cur") && return ;;
            --settle) mapfile -t COMPREPLY < <(compgen -W "30s 2m 5m" -- "$cur") && return ;;
            esac
            local options="--display --no-display" word
            [[ ${words[2]} == busy ]] && options+=" --net --cpu --settle"
            for word in "${words[@]:4:cword-4}"; do
                case $word in
                --display | --no-display) options=${options/--no-display/} options=${options/--display/} ;;
                --net* | --cpu* | --settle*) options=${options/${word%%=*}/} ;;
                esac
            done
            mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        fi
        ;;
    hold)
        # After "--" the command and its own arguments, as bash completes them.
        for ((i = 2; i < cword; i++)); do
            [[ ${words[i]} == -- ]] || continue
            if declare -F _command_offset >/dev/null; then
                _command_offset $((i + 1))
            elif ((cword == i + 1)); then
                mapfile -t COMPREPLY < <(compgen -c -- "$cur")
            else
                mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            fi
            return
        done
        mapfile -t COMPREPLY < <(compgen -W "--display --" -- "$cur")
        ;;
    esac
} &&
    complete -F _wakora wakora

# ex: filetype=sh
