#!/bin/bash
# End-to-end cases of the real program at its compiled-in paths, one sandbox per case.
# usage: e2e_test.sh CASE UNITCFG [LAUNCHER...]
# Exits 0 when the case holds, 1 when it fails, 77 (skipped) when no sandbox can be made.
set -u

installed=/usr/share/Quarvane/UNIT.CFG
history=/home/Quarvane/History.txt
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

expect_eq() { # what got want
    [ "$2" == "$3" ] || fail "$1: got '$2', want '$3'"
}

# Runs the program as the unit would: no arguments unless given, output kept in files.
run_unitcfg() {
    "${launcher[@]}" ./unitcfg "$@" >stdout.txt 2>stderr.txt
    status=$?
    expect_eq "exit status" "$status" 0
}

# The history holds exactly one line, and it is the dated outcome entry text $1.
expect_one_outcome_entry() {
    expect_eq "history lines" "$(wc -l 2>/dev/null <"$history")" 1
    local line
    line=$(cat "$history" 2>/dev/null)
    case "$line" in
    ?*"$1") ;;
    *) fail "history is '$line', want a date then '$1'" ;;
    esac
}

case_typical_install() {
    identity_record 6170 >/tmp/UNIT.CFG
    typical_staged_record >/tmp/Quarvane/6170.CFG
    run_unitcfg "$@"
    expect_eq "standard output" "$(cat stdout.txt)" ""
    expect_eq "standard error" "$(cat stderr.txt)" ""
    cmp -s /tmp/Quarvane/6170.CFG "$installed" || fail "installed file is not the staged one"
    expect_one_outcome_entry " - UNIT_CFG of 6170 updated successfully."
}

case_nothing_present() {
    run_unitcfg
    expect_eq "standard output" "$(cat stdout.txt)" ""
    expect_eq "files written" \
        "$(find /tmp /home /usr/share/Quarvane -mindepth 1 -not -path /tmp/Quarvane \
            -not -path /home/Quarvane)" ""
}

case_arguments_ignored() {
    case_typical_install --help -v /etc/passwd "*" ""
}

# A parent that leaves SIGCHLD ignored must not make a good copy look failed.
case_sigchld_ignored() {
    launcher=(perl -e '$SIG{CHLD} = "IGNORE"; exec @ARGV or die' -- "${launcher[@]}")
    case_typical_install
}

case_unknown_unit() {
    identity_record 6361 >/tmp/UNIT.CFG
    typical_staged_record >/tmp/Quarvane/6361.CFG
    echo "installed before" >"$installed"
    run_unitcfg
    expect_eq "standard output" "$(cat stdout.txt)" ""
    expect_eq "installed file" "$(cat "$installed")" "installed before"
    [ -e "$history" ] && fail "history was written"
}

case_failed_copy() {
    identity_record 6170 >/tmp/UNIT.CFG
    echo "installed before" >"$installed"
    run_unitcfg
    expect_eq "standard output" "$(cat stdout.txt)" "Command not found or exited with error status"
    expect_eq "installed file" "$(cat "$installed")" "installed before"
    expect_one_outcome_entry " - UNIT_CFG of 6170 updated failed. Might not found the file."
}

if [ "${1:-}" == "--inside" ]; then
    source ./records.sh
    case_name=$2
    shift 2
    launcher=("$@")
    "case_$case_name"
    [ $failures -eq 0 ] && echo "ok: $case_name"
    exit $((failures > 0))
fi

case_name=$1
binary=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/sandbox.sh"
if ! sandbox_available; then
    echo "SKIP: this process may not make a private mount namespace (needs root or user namespaces)"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$binary" "$work/unitcfg"
cp "$0" "$work/cases.sh"
cp "$here/records.sh" "$work/records.sh"
sandbox_run "$work" bash ./cases.sh --inside "$case_name" "$@"
