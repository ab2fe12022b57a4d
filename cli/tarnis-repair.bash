# bash completion for tarnis-repair, installed as share/bash-completion/completions/tarnis-repair.
# It needs nothing but bash: no helper of the bash-completion package.

_tarnis_repair()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} option word ended=
    COMPREPLY=()
    # bash splits "--jobs=4" at "=": the option is then the word before "=".
    if [[ $cur == = ]]; then
        option=$prev cur=
    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
        option=${COMP_WORDS[COMP_CWORD - 2]}
    else
        option=$prev
    fi
    for word in "${COMP_WORDS[@]:1:COMP_CWORD - 1}"; do
        [[ $word == -- ]] && ended=1 # every word after "--" is a file
    done

    if [[ -z $ended ]]; then
        # Short options go together ("-qj 4"); long ones may be cut short ("--out DIR").
        if [[ $option =~ ^-[cqhV]*j$ || ($option == --?* && --jobs == "$option"*) ]]; then
            mapfile -t COMPREPLY < <(compgen -W "$(seq 1 "$(getconf _NPROCESSORS_ONLN 2>/dev/null || echo 4)")" -- "$cur")
            return
        fi
        if [[ $option =~ ^-[cqhV]*o$ || ($option == --?* && (--output-dir == "$option"* || --watch == "$option"*)) ]]; then
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -d -- "$cur" | sort)
            return
        fi
        if [[ $cur == -* ]]; then
            mapfile -t COMPREPLY < <(compgen -W '--check --jobs --output-dir --quiet --watch --bytewise --help --version -c -j -o -q -h -V' -- "$cur")
            return
        fi
    fi

    # The images first, in any letter case, then every other file and folder.
    compopt -o filenames -o nosort 2>/dev/null
    local images others
    mapfile -t images < <(compgen -f -X '!*.[fF][iI][tT]' -- "$cur" | sort)
    mapfile -t others < <(compgen -f -X '*.[fF][iI][tT]' -- "$cur" | sort)
    COMPREPLY=("${images[@]}" "${others[@]}")
}
complete -F _tarnis_repair tarnis-repair
