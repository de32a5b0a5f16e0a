# bash completion for genplot: subcommands, their options and the values an option lists.
# Everything is read from the program's own help texts, so it never falls behind them.

# The subcommands listed by `genplot --help`.
_genplot_subcommands()
{
    "$1" --help 2>/dev/null |
        awk '/^Subcommands:/ { on = 1; next } on && /^  [a-z]/ { print $1; next } on && /^$/ { on = 0 }'
}

# The options of one subcommand: every -x and --long of its --help.
_genplot_options()
{
    "$1" "$2" --help 2>/dev/null |
        awk '/^  -/ { n = split($1, names, ","); for (i = 1; i <= n; ++i) print names[i] }'
}

# The values an option of a subcommand lists in its help, as in TEXT:{auto,always,never}.
_genplot_values()
{
    "$1" "$2" --help 2>/dev/null |
        awk -v option="$3" '/^  -/ {
            n = split($1, names, ",")
            for (i = 1; i <= n; ++i)
                if (names[i] == option && match($0, /:\{[^}]*\}/)) {
                    values = substr($0, RSTART + 2, RLENGTH - 3)
                    gsub(",", " ", values)
                    print values
                }
        }'
}

_genplot()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD - 1]}
    local program=${COMP_WORDS[0]}
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        if [[ $cur == -* ]]; then
            mapfile -t COMPREPLY < <(compgen -W "--help --version" -- "$cur")
        else
            mapfile -t COMPREPLY < <(compgen -W "$(_genplot_subcommands "$program")" -- "$cur")
        fi
        return
    fi
    local command=${COMP_WORDS[1]}
    if [[ $command == help ]]; then
        ((COMP_CWORD == 2)) &&
            mapfile -t COMPREPLY < <(compgen -W "$(_genplot_subcommands "$program")" -- "$cur")
        return
    fi
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$(_genplot_options "$program" "$command")" -- "$cur")
        return
    fi
    if [[ $prev == -* ]]; then
        local values
        values=$(_genplot_values "$program" "$command" "$prev")
        if [[ -n $values ]]; then
            mapfile -t COMPREPLY < <(compgen -W "$values" -- "$cur")
            return
        fi
    fi
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}

complete -o filenames -o bashdefault -F _genplot genplot
