#!/usr/bin/env bash
# The bash completion of linkmootctl: what it offers at typical points of a
# line, and that its commands are exactly those `linkmootctl --help` lists.
# Usage: completion_test.sh COMPLETION_FILE LINKMOOTCTL
set -uo pipefail
# shellcheck source=/dev/null
source "$1"
linkmootctl=$2
failed=0

# Completes the line as typed up to its end.
offered() {
    COMP_LINE=$1
    COMP_POINT=${#1}
    COMPREPLY=()
    _linkmootctl
    echo "${COMPREPLY[*]}"
}

expect() {
    local line=$1 expected=$2 got
    got=$(offered "$line")
    if [[ $got != "$expected" ]]; then
        echo "FAIL: '$line' offers '$got', expected '$expected'"
        failed=1
    fi
}

commands=$("$linkmootctl" --help | sed -n '/^Commands:/,/^$/p' | awk 'NR > 1 && /^  [a-z]/ { print $1 }' |
    tr '\n' ' ')
expect "linkmootctl " "${commands% }"
expect "linkmootctl dis" "disconnect disable"
expect "linkmootctl --tim" "--timeout="
expect "linkmootctl --timeout=" ""
expect "linkmootctl --timeout=5 st" "status"
expect "linkmootctl status " ""
expect "linkmootctl wait " "up down"
expect "linkmootctl wait --timeout=5 d" "down"
expect "linkmootctl status --" "--timeout= --help --version"
expect "linkmootctl servers --" "--timeout= --json --port= --help --version"
[[ $(complete -p linkmootctl) == *"-F _linkmootctl linkmootctl"* ]] || {
    echo "FAIL: no completion registered for linkmootctl"
    failed=1
}
exit $failed
