#!/usr/bin/env bash
# The bash completion of tk7v-cli against the program built here: commands, options, field names
# after `set`, the values of a line option.
set -euo pipefail
cli_dir=$1 completion=$2
source /usr/share/bash-completion/bash_completion
source "$completion"
PATH="$cli_dir:$PATH"
failed=0
complete_words() { # the words of a command line, the last being completed
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _tk7v_cli
  printf '%s\n' "${COMPREPLY[@]}"
}
expect() { # expect WORD-THAT-MUST-BE-OFFERED -- COMMAND LINE...
  local want=$1 offered
  shift 2
  # Taken whole first: grep -q may stop reading early, and the writer's SIGPIPE would fail the
  # pipeline under pipefail.
  offered=$(complete_words "$@")
  if ! grep -qxF -- "$want" <<<"$offered"; then
    echo "completion of '$*' does not offer '$want': $(tr '\n' ' ' <<<"$offered")"
    failed=1
  fi
}
expect set -- tk7v-cli se
expect fields -- tk7v-cli fi
expect --values -- tk7v-cli write --va
expect --report -- tk7v-cli read --rep
expect CS1_phone_1= -- tk7v-cli set a.cfg CS1_pho
expect TS_object_id= -- tk7v-cli set a.cfg TS_obj
expect even -- tk7v-cli read --parity e
exit $failed
