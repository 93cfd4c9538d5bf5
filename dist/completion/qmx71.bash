# bash completion for qmx71(1)

# Part names as the program itself lists them; asked once per shell and
# program, since the list only changes with the program.
_qmx71_part_names() {
  local program=$1
  [[ $program == "~"* ]] && program=$HOME${program#\~}
  if [[ ${_qmx71_parts_program-} != "$program" ]]; then
    _qmx71_parts=$("$program" parts 2>/dev/null | awk '/^  / { print $1 }')
    _qmx71_parts_program=$program
  fi
  printf '%s\n' "$_qmx71_parts"
}

_qmx71_files() {
  compopt -o filenames 2>/dev/null
  mapfile -t COMPREPLY < <(compgen -f -- "$1")
}

_qmx71() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=
  ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
  # "--option=value": the shell splits at '=', so the option is further back.
  if [[ $cur == = ]]; then
    cur=
  elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
    prev=${COMP_WORDS[COMP_CWORD - 2]}
  fi

  local subcommands="parts ports info read write verify program erase blank checksum dump diff"
  local options="-h --help --port -q --quiet --start --length --page-size --no-pipeline --clock --write-time --org --format"
  local takes_value=" --port --start --length --page-size --clock --write-time --org --format -o --output --layout --algo --serial-at --serial-state --serial-start --serial-step --serial-format --log --log-format --repeat "

  # The subcommand and how many of its positional arguments are given.
  local i word sub= given=0 skip=0
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ $word == = ]]; then
      skip=1
    elif ((skip)); then
      skip=0
    elif [[ $takes_value == *" $word "* ]]; then
      skip=1
    elif [[ $word != -* ]]; then
      if [[ -z $sub ]]; then sub=$word; else ((given++)); fi
    fi
  done

  case $prev in
    --org) COMPREPLY=($(compgen -W "x8 x16" -- "$cur")); return ;;
    --format) COMPREPLY=($(compgen -W "hex srec bin" -- "$cur")); return ;;
    --algo) COMPREPLY=($(compgen -W "sum16 crc32 sha256" -- "$cur")); return ;;
    --layout) COMPREPLY=($(compgen -W "bytes le be" -- "$cur")); return ;;
    --log-format) COMPREPLY=($(compgen -W "csv jsonl" -- "$cur")); return ;;
    --serial-format) COMPREPLY=($(compgen -W "be16 be32 le16 le32 bcd bcd: ascii:" -- "$cur")); return ;;
    --serial-state | --log) _qmx71_files "$cur"; return ;;
    -o | --output) _qmx71_files "$cur"; return ;;
    --port)
      COMPREPLY=($(compgen -W "$(ls -d /dev/qmx71-* /dev/ttyACM* /dev/ttyUSB* 2>/dev/null)" -- "$cur"))
      ((${#COMPREPLY[@]})) || _qmx71_files "$cur"
      return
      ;;
    --page-size) COMPREPLY=($(compgen -W "auto" -- "$cur")); return ;;
    --start | --length | --clock | --write-time | --serial-at | --serial-start | --serial-step | --repeat) COMPREPLY=(); return ;;
  esac

  case $sub in
    read) options+=" -o --output --repeat" ;;
    program) options+=" --no-erase --loop --serial-at --serial-state --serial-start --serial-step --serial-format --log --log-format" ;;
    dump) options+=" --layout" ;;
    checksum) options+=" --algo --json" ;;
    verify) options+=" --json --repeat" ;;
    info | diff) options+=" --json" ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
    return
  fi

  case $sub in
    "") COMPREPLY=($(compgen -W "$subcommands" -- "$cur")); return ;;
    parts | ports) ;;
    diff)
      # A part or a file, then a file.
      if ((given == 0)); then
        _qmx71_files "$cur"
        COMPREPLY+=($(compgen -W "$(_qmx71_part_names "${COMP_WORDS[0]}")" -- "${cur^^}"))
        return
      fi
      if ((given == 1)); then _qmx71_files "$cur"; return; fi
      ;;
    info | read | write | verify | program | erase | blank | checksum | dump)
      if ((given == 0)); then
        # Names are upper case and taken in any case.
        COMPREPLY=($(compgen -W "$(_qmx71_part_names "${COMP_WORDS[0]}")" -- "${cur^^}"))
        return
      fi
      case $sub in
        write | verify | program)
          if ((given == 1)); then _qmx71_files "$cur"; return; fi
          ;;
      esac
      ;;
  esac
  COMPREPLY=($(compgen -W "$options" -- "$cur"))
}

complete -F _qmx71 qmx71
