#!/usr/bin/env bash
# vyxctl's bash completion, loaded into a plain bash as bash-completion loads
# it, completing words as a TAB would: commands, options before and after a
# command, option values, the command found past an option's value.
#   test_completion.sh COMPLETION_FILE VYXCTL_FOLDER
set -uo pipefail
source "$1" || exit 1
PATH=$2:$PATH
complete -p vyxctl >/dev/null || { echo "FAIL: nothing completes vyxctl" >&2; exit 1; }

failed=0
# expect "WORDS TO COMPLETE" "EXPECTED CANDIDATES"
expect() {
    read -ra COMP_WORDS <<<"$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _vyxctl
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
    if [[ $got != "$2" ]]; then
        echo "FAIL: '$1<TAB>' gave '$got', expected '$2'" >&2
        failed=1
    fi
}

expect "vyxctl wr" "write"
expect "vyxctl --se" "--serial --settings"
expect "vyxctl --settings line.ini as" "assign assign-by-card"
expect "vyxctl --serial COM" "COM1 COM2 COM3 COM4 COM5 COM6 COM7 COM8"
expect "vyxctl --mode " "8 9"
expect "vyxctl watch --se" "--seconds --serial --settings"
expect "vyxctl write --beep o" "off on"
expect "vyxctl --json status " ""
exit $failed
