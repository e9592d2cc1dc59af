#!/bin/bash
# The bash completion of tk770ctl as built for the package: commands and
# options from the tool's --help, field names from its field table.
#
#     completion_test.sh COMPLETION_SCRIPT TK770CTL
set -u
source "$1"
tool=$2
failures=0

# complete WORDS... : runs the completion with the cursor on the last word.
complete_words() {
    COMP_WORDS=("$tool" "$@")
    COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 ))
    COMPREPLY=()
    _tk770ctl
    printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//'
}

check() {
    local expected=$1
    shift
    local got
    got=$(complete_words "$@")
    if [[ $got != "$expected" ]]; then
        echo "FAIL: tk770ctl $* -> '$got', expected '$expected'"
        failures=$((failures + 1))
    fi
}

# words typed so far (last one under the cursor) | expected completions, sorted
check "backup backup-ic curve diff download dump get info netconfig new read restart save-memory serial-number set" ""
check "--hosts" backup --ho
check "" backup --jobs ""
check "--verify" download x.qsdat --veri
check "save-memory serial-number set" s
check "--channel" curve x.qsdat --ch
check "-o" -o
check "0 1 2 3 4 5 6 7" curve x.qsdat --channel ""
check "eq[3][10] eq[3][11] eq[3][12] eq[3][13] eq[3][14] eq[3][15] eq[3][16] eq[3][17] eq[3][18] eq[3][19] eq[3][1]" \
    get "eq[3][1"
check "tone[1].bass_freq tone[1].bass_gain" set "tone[1].b"
check "master_volume" --tcp 10.0.0.2 get master_v
check "master_volume" --serial COM1 get master_v
# Read-only fields may be read, never set; set's value is not a field.
check "device_model device_serial" get device
check "" set device
check "" set master_volume m
check "" get master_volume m
check "COM1 COM10" --serial COM1

# The names offered are names the tool accepts: a known field gets as far
# as opening the port (exit 1), an unknown one is a usage error (exit 2).
# A sample keeps this quick; the first and last of the table are in it.
read -r -a fields <<<"$(complete_words get "")"
settable=$(complete_words set "" | wc -w)
if (( ${#fields[@]} < 100 || settable >= ${#fields[@]} )); then
    echo "FAIL: ${#fields[@]} field names for get, $settable for set"
    failures=$((failures + 1))
fi
sample=()
for (( i = 0; i < ${#fields[@]}; i += 9 )); do sample+=("${fields[i]}"); done
sample+=("${fields[-1]}")
for name in "${sample[@]}"; do
    "$tool" get "$name" --serial /nonexistent/tty 2>/dev/null
    status=$?
    if (( status != 1 )); then
        echo "FAIL: tk770ctl get $name exits $status: not a name the tool knows"
        failures=$((failures + 1))
    fi
done
"$tool" get "eq[99][0]" --serial /nonexistent/tty 2>/dev/null
if (( $? != 2 )); then
    echo "FAIL: the check above cannot tell a known field from an unknown one"
    failures=$((failures + 1))
fi
all=${#fields[@]}

if (( failures )); then
    echo "$failures completion check(s) failed"
    exit 1
fi
echo "completion checked: $all fields, $settable settable"
