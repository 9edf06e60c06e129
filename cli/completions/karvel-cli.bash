# bash completion for karvel-cli; needs nothing from the bash-completion package.

_karvel_cli() {
  local current=${COMP_WORDS[COMP_CWORD]}
  local previous=${COMP_WORDS[COMP_CWORD - 1]}
  # "--output=x" comes as "--output", "=", "x".
  if [[ $previous == = && COMP_CWORD -ge 2 ]]; then
    previous=${COMP_WORDS[COMP_CWORD - 2]}
  elif [[ $current == = ]]; then
    current=
  fi
  COMPREPLY=()
  case $previous in
    -o | --output | --passphrase-file)
      compopt -o filenames
      mapfile -t COMPREPLY < <(compgen -f -- "$current")
      return
      ;;
    --passphrase-fd)
      return
      ;;
    --code-page)
      mapfile -t COMPREPLY < <(compgen -W "874 932 936 949 950 1250 1251 1252 1253 1254 1255
        1256 1257 1258 65001" -- "$current")
      return
      ;;
  esac
  if [[ $current == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "-o --output --force --passphrase-file --passphrase-fd
      --code-page -h --help --version" -- "$current")
    return
  fi
  # Before the subcommand the first plain word is one; after it every word is a FILE.
  local i word skip=0
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if ((skip)); then
      skip=0
      continue
    fi
    case $word in
      -o | --output | --passphrase-file | --passphrase-fd | --code-page) skip=1 ;;
      encode | decode | verify)
        compopt -o filenames
        mapfile -t COMPREPLY < <(compgen -f -- "$current")
        return
        ;;
    esac
  done
  mapfile -t COMPREPLY < <(compgen -W "encode decode verify" -- "$current")
}

complete -F _karvel_cli karvel-cli
