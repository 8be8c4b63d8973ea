# bash completion for zamblok-cli: sub-commands, their options, the values
# of options that take one of a few words, folders for folder options and
# archives (*.zip and the parts of sets) for archive arguments.

_zamblok_cli()
{
    local cur prev words cword
    _init_completion || return

    local commands="zip add list extract test delete join split"
    local command= i
    for ((i = 1; i < cword; i++)); do
        if [[ " $commands " == *" ${words[i]} "* ]]; then
            command=${words[i]}
            break
        fi
    done

    case $prev in
        --overwrite)
            COMPREPLY=($(compgen -W "prompt always never newer older" -- "$cur"))
            return ;;
        --encryption)
            COMPREPLY=($(compgen -W "zipcrypto aes256" -- "$cur"))
            return ;;
        --part-names)
            COMPREPLY=($(compgen -W "peers zamblok" -- "$cur"))
            return ;;
        --names-codepage)
            COMPREPLY=($(compgen -W "CP437 CP850 CP852 CP866 CP1250 CP1251 CP1252 CP932 CP936 CP949 CP950" -- "$cur"))
            return ;;
        --level)
            COMPREPLY=($(compgen -W "0 1 2 3 4 5 6 7 8 9" -- "$cur"))
            return ;;
        --blocked | --size)
            COMPREPLY=($(compgen -W "1.2M 1.44M 2.88M 5M 100M 250M 650M" -- "$cur"))
            return ;;
        --to | --dest)
            _filedir -d
            return ;;
        --password-file | --out)
            _filedir
            return ;;
        --per | --width | --threads | --name | --comment | --only)
            return ;;
    esac

    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "$commands --quiet --help --version" -- "$cur"))
        return
    fi

    if [[ $cur == -* ]]; then
        local write="--level --threads --no-paths --no-subfolders --no-hidden --comment --password --password-file --encryption --help"
        local read="--repair --names-codepage --help"
        local options
        case $command in
            zip) options="$write --single --per --blocked --part-names --dest --name --width" ;;
            add) options="$write --update --move" ;;
            list) options="$read --tsv --verbose --json" ;;
            extract) options="$read --only --ignore-case --to --subfolder-per-archive --no-paths --overwrite --threads --allow-outside-links --password --password-file" ;;
            test) options="$read --threads --password --password-file" ;;
            delete) options="--pattern --help" ;;
            join) options="--out --help" ;;
            split) options="--size --out --help" ;;
        esac
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi

    case $command in
        zip) _filedir ;;
        add)
            # The archive first, then the files that go into it.
            local args=0
            for ((i = i + 1; i < cword; i++)); do
                [[ ${words[i]} != -* ]] && ((args++))
            done
            if ((args == 0)); then _filedir zip; else _filedir; fi ;;
        *) _filedir '@(zip|ZIP|z[0-9][0-9]|jar|[0-9][0-9][0-9])' ;;
    esac
}
complete -F _zamblok_cli zamblok-cli
