#!/usr/bin/env bash
# The bash completions of linkmootctl and linkmootd: what they offer at
# typical points of a line, and that linkmootctl's commands are exactly those
# `linkmootctl --help` lists and linkmootd's options those `linkmootd --help` lists.
# Usage: completion_test.sh CTL_COMPLETION LINKMOOTCTL DAEMON_COMPLETION LINKMOOTD
set -uo pipefail
# shellcheck source=/dev/null
source "$1"
linkmootctl=$2
# shellcheck source=/dev/null
source "$3"
linkmootd=$4
failed=0

# Completes the line as typed up to its end, with the function of its program.
offered() {
    COMP_LINE=$1
    COMP_POINT=${#1}
    COMPREPLY=()
    "_${1%% *}"
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
expect "linkmootctl usage --" "--timeout= --help --version --json"
expect "linkmootctl sessions --c" "--csv"
expect "linkmootctl servers --" "--timeout= --help --version --json --port="
expect "linkmootctl sessions --since " ""
expect "linkmootctl sessions --since 2026-12-01 --c" "--csv"
expect "linkmootctl plan " "set-used allow"
expect "linkmootctl plan --" "--timeout= --help --version --json"
expect "linkmootctl plan allow --" "--timeout= --help --version --for= --until-reset --cancel"
expect "linkmootctl plan allow " ""
options=$("$linkmootd" --help | grep -oE '^ +--[a-z-]+' | tr -d ' ' | tr '\n' ' ')
expect "linkmootd --" "${options% }"
expect "linkmootd --c" "--configure --check-config"
expect "linkmootd /log:w" "warn"
folder=$(mktemp -d)
touch "$folder/linkmootd.cfg"
expect "linkmootd --check-config $folder/linkmootd.c" "$folder/linkmootd.cfg"
rm -r "$folder"
for program in linkmootctl linkmootd; do
    [[ $(complete -p "$program") == *"-F _$program $program"* ]] || {
        echo "FAIL: no completion registered for $program"
        failed=1
    }
done
exit $failed
