# bash completion for kalo: options, the values of --on-error, and files where a file is wanted.
_kalo() {
  local cur prev
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD - 1]}
  case $prev in
    --csv | -o | --output | --plot)
      compopt -o filenames 2>/dev/null
      COMPREPLY=($(compgen -f -- "$cur"))
      return ;;
    --on-error)
      COMPREPLY=($(compgen -W 'stop skip empty' -- "$cur"))
      return ;;
    -d | --delimiter | --digits | --sweep | --vars)
      return ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W '--csv --tsv -d --delimiter --no-header -o --output --on-error
      --sweep --plot --digits --vars --degrees --grads --radians -i --interactive --functions
      -h --help --version' -- "$cur"))
  fi
}
complete -F _kalo kalo
