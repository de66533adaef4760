# bash completion for oposreg
_oposreg() {
  local cur prev words cword
  _init_completion 2>/dev/null || {
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    words=("${COMP_WORDS[@]}")
    cword=$COMP_CWORD
  }
  case $prev in
    --root|--dev)
      COMPREPLY=($(compgen -d -- "$cur"))
      return
      ;;
    --remove)
      COMPREPLY=($(compgen -W "COM1 COM2 COM3 COM4 COM5 COM6 COM7 COM8 COM9 COM10" -- "$cur"))
      return
      ;;
  esac
  local command="" i
  for ((i = 1; i < cword; i++)); do
    case ${words[i]} in
      --root|--dev|--remove) ((i++)) ;;
      -*) ;;
      *) command=${words[i]}; break ;;
    esac
  done
  if [[ -z $command ]]; then
    COMPREPLY=($(compgen -W "import export tree list get set delete devices ports check help --root --help --version" -- "$cur"))
    return
  fi
  local options="--help"
  case $command in
    export) options+=" --force" ;;
    tree|list|get|devices|check) options+=" --json" ;;
    delete) options+=" --yes" ;;
    ports) options+=" --write --remove --json --dev" ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
  elif [[ $command == import || $command == export ]]; then
    COMPREPLY=($(compgen -f -- "$cur"))
  elif [[ $command == help ]]; then
    COMPREPLY=($(compgen -W "import export tree list get set delete devices ports check" -- "$cur"))
  fi
}
complete -F _oposreg oposreg
