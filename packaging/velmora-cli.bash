# bash completion for velmora-cli. Commands, sub-commands, options and the
# --simulate scenarios are read from the program's own --help, so whatever it
# learns completes without a change here.

# The help of the velmora-cli being completed (the word typed, or the one on PATH).
_velmora_cli_help()
{
    local program=$1
    [[ $program == */* || -z $program ]] || program=$(type -P "$program")
    "${program:-velmora-cli}" --help 2>/dev/null
}

# What follows a command's name (and sub-command) in its usage line: the end of
# the line, the blanks before its description, an option or an argument in
# capitals. Prose between the commands ("  lines are prefixed ...") has none.
_velmora_cli_usage_end='($|  | \[| -| [A-Z])'

_velmora_cli()
{
    local cur prev words cword
    _init_completion -s || return

    local help commands_part
    help=$(_velmora_cli_help "${words[0]}")
    # Commands are listed before "Options:"; the examples after it are not commands.
    commands_part=$(sed '/^Options:/,$d' <<<"$help")

    case $prev in
        --simulate)
            # The scenario lines sit under the option, 25 blanks in.
            COMPREPLY=($(compgen -W "$(sed -n 's/^ \{25\}\([a-z][a-z0-9-]*\)  .*/\1/p' <<<"$help")" -- "$cur"))
            return
            ;;
        --config | --ic | -o | --key)
            _filedir
            return
            ;;
        --trusted-keys)
            _filedir -d
            return
            ;;
    esac

    local i command="" sub=""
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --config | --ic | -o | --page | --set | --vid | --sspid | --hspid | --manufacturer | --product | \
                --serial | --container-id | --key | --comment | --trusted-keys) ((i++)) ;;
            -*) ;;
            *)
                if [[ -z $command ]]; then
                    command=${words[i]}
                elif [[ -z $sub ]]; then
                    sub=${words[i]}
                fi
                ;;
        esac
    done

    local global_options
    global_options=$(sed -n '/^Options:/,$p' <<<"$help" | grep -o -- '--[a-z][a-z-]*' | sort -u)
    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "$global_options --simulate=" -- "$cur"))
            [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
        else
            COMPREPLY=($(compgen -W "$(sed -En "s/^  ([a-z][a-z0-9-]*)( [a-z][a-z0-9-]*)?$_velmora_cli_usage_end.*/\1/p" <<<"$commands_part" | sort -u)" -- "$cur"))
        fi
        return
    fi

    local subcommands
    subcommands=$(sed -En "s/^  $command ([a-z][a-z0-9-]*)$_velmora_cli_usage_end.*/\1/p" <<<"$commands_part" | sort -u)
    if [[ -n $subcommands && -z $sub && $cur != -* ]]; then
        COMPREPLY=($(compgen -W "$subcommands" -- "$cur"))
        return
    fi
    if [[ $cur == -* ]]; then
        local own
        own=$(awk -v c="$command" '/^  [a-z]/ { on = ($1 == c) } on' <<<"$commands_part" | grep -o -- '--[a-z][a-z-]*')
        COMPREPLY=($(compgen -W "$(printf '%s\n' $own $global_options | sort -u)" -- "$cur"))
        return
    fi
    _filedir
}
complete -F _velmora_cli velmora-cli
