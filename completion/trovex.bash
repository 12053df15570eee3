# bash completion of trovex: global flags and commands, then the command's own flags and files.
_trovex() {
    local current=${COMP_WORDS[COMP_CWORD]}
    local previous=${COMP_WORDS[COMP_CWORD-1]}
    local commands="compile-scripts compile-xml merge-logs bundle quick-bundle make-patch list extract"
    local global="-h --help -b --break-on-error -v --verbose -w --wait-when-done -j --jobs --version"

    # The command is the first word that is neither a global flag nor the value of -j.
    local command="" i
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            -j | --jobs) ((i++)) ;;
            -*) ;;
            *) command=${COMP_WORDS[i]}; break ;;
        esac
    done

    case $previous in
        -j | --jobs | -g | --genetic | -W | --width | -n | --ignore-name | -e | --ignore-ext)
            return ;;
        -r | --root)
            [ "$command" = compile-xml ] || [ "$command" = bundle ] || [ "$command" = quick-bundle ] &&
                { COMPREPLY=($(compgen -d -- "$current")); return; } ;;
    esac

    local flags=""
    case $command in
        "") COMPREPLY=($(compgen -W "$commands $global" -- "$current")); return ;;
        compile-scripts) flags="-s --strip -m --only-if-modified -a --report-all --depfile" ;;
        compile-xml) flags="-m --only-if-modified -r --root -a --report-all --depfile" ;;
        merge-logs) flags="-g --genetic" ;;
        bundle) flags="-r --root -f --ignore-file -n --ignore-name -e --ignore-ext -F --force-file
            -D --force-dest -m --skip-missing -p --prepend-bundle -a --append-bundle -L --log-union
            --depfile" ;;
        quick-bundle) flags="-r --root -f --ignore-file -n --ignore-name -e --ignore-ext
            -F --force-file -D --force-dest -m --skip-missing --depfile" ;;
        make-patch) flags="--depfile" ;;
        list) flags="-r --recursive -f --flat -W --width --json" ;;
        extract) flags="-r --recursive -d --allow_delete" ;;
    esac
    if [[ $current == -* ]]; then
        COMPREPLY=($(compgen -W "$flags -h --help" -- "$current"))
    else
        COMPREPLY=($(compgen -f -- "$current"))
    fi
}
complete -o filenames -F _trovex trovex
