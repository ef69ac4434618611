# The measurements, run inside the sandbox by bench/run. $1: pairs per comparison.
source ./records.sh
pairs=$1
installed=/usr/share/Quarvane/UNIT.CFG
history=/home/Quarvane/History.txt

now_us() { echo "${EPOCHREALTIME/./}"; }

# Prints the median of the numbers on standard input.
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Times `$@` once, in microseconds, appended to file $TIMES.
timed() {
    local start end
    start=$(now_us)
    "$@" >/dev/null 2>&1
    end=$(now_us)
    echo $((end - start)) >>"$TIMES"
}

typical_state() {
    identity_record 6170 >/tmp/UNIT.CFG
    typical_staged_record >/tmp/Quarvane/6170.CFG
    : >"$history"
}

# The children a typical run cannot do without: a shell running the copy, then a shell running
# the outcome entry's pipeline.
bare_children() {
    sh -c "cp /tmp/Quarvane/6170.CFG $installed"
    sh -c "date | sed -e 's/.*/& - UNIT_CFG of 6170 updated successfully./' | cat >> $history"
}

# The same, with the start of a program of its own, which any design must spend too.
empty_then_bare_children() {
    ./empty
    bare_children
}

# Alternating pairs of `first` and `second`, each run after `setup`; prints
# "median_first median_second".
compare() {
    local setup=$1 first=$2 second=$3 i
    rm -f a.times b.times
    for ((i = 0; i < pairs; i++)); do
        $setup
        TIMES=a.times timed $first
        $setup
        TIMES=b.times timed $second
    done
    echo "$(median <a.times) $(median <b.times)"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
ms() { awk -v us="$1" 'BEGIN { printf "%.2f ms", us / 1000 }'; }

# No identity record, and an installed record that needs nothing.
idle_state() {
    rm -f /tmp/UNIT.CFG
    config_record 89 -2026 1309 3 21017 0xAF48 >"$installed"
}

# (a) a typical install run against its bare children.
read -r typical bare <<<"$(compare typical_state ./unitcfg bare_children)"
read -r typical2 bare_started <<<"$(compare typical_state ./unitcfg empty_then_bare_children)"

# (b) a run with nothing to do against the empty program.
read -r idle empty <<<"$(compare idle_state ./unitcfg ./empty)"
[ "$(record_xor "$installed")" -eq 0 ] || echo "warning: the idle record is not right" >&2

# (c) programs started in a typical run.
typical_state
programs=$(strace -f -qq -e trace=execve -e signal=none ./unitcfg 2>&1 >/dev/null |
    grep -c ' = 0$')

# (d) peak resident memory: the program alone (nothing to do), and a typical run, in which the
# largest of the program and its children counts.
idle_state
rss_alone=$(/usr/bin/time -f %M ./unitcfg 2>&1 >/dev/null)
typical_state
rss_typical=$(/usr/bin/time -f %M ./unitcfg 2>&1 >/dev/null)

# (e) cost per logged output line: a copy printing 1,000 lines against one printing none.
# The program searches only the system's directories, and passes its children no variable of
# the caller's but the time zone and the locale: the copy that prints is put in place of the
# system's `cp` (the sandbox's mounts end with it), and reads its count from a file.
mkdir -p /tmp/fakebin/real && : >/tmp/fakebin/real/cp
mount --bind /usr/bin/cp /tmp/fakebin/real/cp
printf '#!/bin/sh\nseq -f "line %%g" "$(cat /tmp/fakebin/lines)"\nexec /tmp/fakebin/real/cp "$@"\n' \
    >/tmp/fakebin/cp
chmod +x /tmp/fakebin/cp
mount --bind /tmp/fakebin/cp /usr/bin/cp
lines_run() { echo "$1" >/tmp/fakebin/lines && ./unitcfg; }
rm -f l0.times l1000.times
for ((i = 0; i < 5; i++)); do
    typical_state
    TIMES=l0.times timed lines_run 0
    typical_state
    TIMES=l1000.times timed lines_run 1000
done
per_line=$(( ($(median <l1000.times) - $(median <l0.times)) / 1000 ))
logged=$(grep -c '^MO:  line' "$history")

cat <<TABLE
| Measure | unitcfg | Least the design must spend | Ratio | Target |
|---------|---------|-----------------------------|-------|--------|
| (a) typical install run, median of $pairs pairs | $(ms "$typical") | $(ms "$bare") (two shells: the \`cp\`, the \`date \| sed \| cat\` pipeline) | $(ratio "$typical" "$bare") | ≤ 1.10 |
| (a′) the same, against a started program too, median of $pairs pairs | $(ms "$typical2") | $(ms "$bare_started") (the empty program, then the two shells) | $(ratio "$typical2" "$bare_started") | |
| (b) run with nothing to do, median of $pairs pairs | $(ms "$idle") | $(ms "$empty") (an empty C program) | $(ratio "$idle" "$empty") | ≤ 1.15 |
| (c) programs started in a typical run | $programs | 7 (the program, two shells, \`cp\`, \`date\`, \`sed\`, \`cat\`) | | exactly 7 |
| (d) peak resident memory | $rss_alone KiB alone; $rss_typical KiB with its children | | | ≤ 1,536 KiB |
| (e) cost per logged output line (1,000 lines, $logged logged) | $(ms "$per_line") | | | |
TABLE
