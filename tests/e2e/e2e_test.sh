#!/bin/bash
# End-to-end cases of the real program at its compiled-in paths, one sandbox per case.
# usage: e2e_test.sh CASE UNITCFG [LAUNCHER...]
# Exits 0 when the case holds, 1 when it fails, 77 (skipped) when no sandbox can be made.
set -u

installed=/usr/share/Quarvane/UNIT.CFG
temporary=$installed.new
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
    expect_one_outcome_entry " - UNIT_CFG of 6170 updated successfully."
    # The staged record was copied, then repaired.
    expect_typical_repaired_record
    cmp -s -n 6 /tmp/Quarvane/6170.CFG "$installed" || fail "bytes 0-5 differ from the staged"
    expect_no_temporary_file
}

expect_no_temporary_file() {
    [ -e "$temporary" ] && fail "the temporary file $temporary outlived the run"
}

# The installed file keeps what it is: a replaced file its mode and owner; a symbolic link, a
# file bind-mounted over the installed path (from another file system or from the same one) and
# a hard link get the new content written through. A kernel without statx's mount-root attribute
# (older than 5.8, here statx failing with ENOSYS) still finds the mount point, in mountinfo.
case_install_keeps_file_kind() {
    identity_record 6170 >/tmp/UNIT.CFG
    typical_staged_record >/tmp/Quarvane/6170.CFG
    local owner=0:0 target kernel=("${launcher[@]}")
    local old_kernel=(strace -o /dev/null -e trace=statx -e inject=statx:error=ENOSYS "${kernel[@]}")
    echo "installed before" >"$installed"
    chmod 0604 "$installed"
    # Another owner where the sandbox maps other users (not in a user namespace of its own).
    chown 1234:5678 "$installed" 2>/dev/null && owner=1234:5678
    run_unitcfg
    expect_typical_repaired_record
    expect_eq "mode and owner" "$(stat -c %a:%u:%g "$installed")" "604:$owner"
    # Root without CAP_CHOWN cannot give a new file that owner, so it writes through. Without
    # CAP_FOWNER, the new file's mode is set while it is still root's, then its owner. In a user
    # namespace where that owner has no name (an unprivileged container), root's CAP_CHOWN
    # cannot give it to a new file: it is written through. Each time the mode and owner stay.
    if [ $owner != 0:0 ]; then
        install_over_owner 0604 setpriv --bounding-set -chown
        install_over_owner 0604 setpriv --bounding-set -fowner
        install_over_owner 0666 unshare --user --map-root-user
    fi

    for target in /tmp/linked.CFG /tmp/bound.CFG /usr/share/Quarvane/bound.CFG \
        /usr/share/Quarvane/bound-old-kernel.CFG /usr/share/Quarvane/hard.CFG; do
        launcher=("${kernel[@]}")
        [[ $target == *old-kernel* ]] && launcher=("${old_kernel[@]}")
        umount "$installed" 2>/dev/null
        rm -f "$installed" "$history"
        echo "installed before" >"$target"
        case $target in
        *linked*) ln -s "$target" "$installed" ;;
        *bound*) touch "$installed" && mount --bind "$target" "$installed" ;;
        *hard*) ln "$target" "$installed" ;;
        esac
        run_unitcfg
        expect_one_outcome_entry " - UNIT_CFG of 6170 updated successfully."
        installed=$target expect_typical_repaired_record
        expect_no_temporary_file
        [ "$target" != /tmp/linked.CFG ] || [ -L "$installed" ] || fail "the link was replaced"
    done
    # The same old kernel, the installed directory a symbolic link into a data partition and a
    # file bound over the installed file there: mountinfo lists the mount under the real path.
    umount "$installed" 2>/dev/null
    umount /usr/share/Quarvane && rm -rf /usr/share/Quarvane "$history" &&
        mkdir /usr/share/real && ln -s real /usr/share/Quarvane &&
        echo "installed before" >/tmp/bound.CFG && touch /usr/share/real/UNIT.CFG &&
        mount --bind /tmp/bound.CFG /usr/share/real/UNIT.CFG || fail "no linked directory"
    launcher=("${old_kernel[@]}")
    run_unitcfg
    launcher=("${kernel[@]}")
    expect_one_outcome_entry " - UNIT_CFG of 6170 updated successfully."
    installed=/tmp/bound.CFG expect_typical_repaired_record
}

# The typical install over an installed file of $owner with mode $1, the launcher $kernel
# started by $2...: it installs and repairs, and the file keeps its mode and owner.
install_over_owner() {
    local mode=$1
    shift
    rm -f "$history" && echo "installed before" >"$installed" && chmod "$mode" "$installed"
    launcher=("$@" "${kernel[@]}")
    run_unitcfg
    launcher=("${kernel[@]}")
    expect_one_outcome_entry " - UNIT_CFG of 6170 updated successfully."
    expect_typical_repaired_record
    expect_eq "mode and owner under $1" "$(stat -c %a:%u:%g "$installed")" "${mode#0}:$owner"
}

# The installed file is replaced by rename, never written through, on every layout a unit has:
# with the temporary name left as a second link to it by a rename cut in two (JFFS2 links the
# new name, then unlinks the old), and in an overlay's read-only lower layer. A copy cut short
# then leaves the old record whole, and a good run leaves the repaired record, one link,
# nothing beside it. Two runs started at once both do their whole jobs, one after the other.
case_replacement_holds() {
    identity_record 6170 >/tmp/UNIT.CFG
    typical_staged_record >/tmp/Quarvane/6170.CFG
    config_record 89 -2036 1310 3 21017 0xAF51 >old.bin
    local state round
    for state in two-links two-runs lower-layer; do
        rm -f "$history"
        case $state in
        two-links) cp old.bin "$installed" && ln "$installed" "$temporary" ;;
        two-runs)
            for ((round = 1; round <= 10; round++)); do
                cp old.bin "$installed" && rm -f "$history"
                "${launcher[@]}" ./unitcfg >stdout.txt 2>&1 &
                "${launcher[@]}" ./unitcfg >>stdout.txt 2>&1
                wait $!
                expect_eq "round $round: output" "$(cat stdout.txt)" ""
                expect_eq "round $round: success entries" \
                    "$(grep -c ' - UNIT_CFG of 6170 updated successfully\.$' "$history")" 2
                expect_typical_repaired_record
                expect_no_temporary_file
            done
            continue
            ;;
        lower-layer) overlay_installed_directory old.bin ;;
        esac
        fake_cp_cut_short
        run_unitcfg
        cmp -s old.bin "$installed" || fail "$state: a copy cut short changed the old record"
        expect_one_outcome_entry " - UNIT_CFG of 6170 updated failed. Might not found the file."
        rm -f "$history" && real_cp
        run_unitcfg
        expect_one_outcome_entry " - UNIT_CFG of 6170 updated successfully."
        expect_typical_repaired_record
        expect_eq "$state: links" "$(stat -c %h "$installed")" 1
        expect_eq "$state: files beside it" "$(ls -A "${installed%/*}")" "${installed##*/}"
    done
}

# A record that needs a repair in a file that cannot be opened for writing stays as it is, and
# --check says that the repair cannot be written.
case_read_only_installed() {
    typical_staged_record >"$installed"
    cp "$installed" before.bin
    mount --bind "$installed" "$installed"
    mount -o remount,bind,ro "$installed"
    # --check says so, and does not promise a repair.
    "${launcher[@]}" ./unitcfg --check >check.txt
    expect_eq "--check over a read-only file: status" "$?" 2
    grep -q -x 'repair: cannot be written' check.txt || fail "--check: $(cat check.txt)"
    run_unitcfg
    expect_eq "output" "$(cat stdout.txt stderr.txt)" ""
    cmp -s before.bin "$installed" || fail "the read-only file changed"
}

# Killed at each call of the repair's rewrite in turn, the program leaves a whole record, old or
# new: both where the file is replaced by rename and where it is written through a symbolic
# link in place. A temporary file left by a kill is replaced by the next run, which removes it.
case_killed_during_rewrite() {
    typical_staged_record >old.bin
    local call record=$installed
    # A libc's stdio may write with writev.
    for call in openat:when=2 write close fchmod fsync close:when=2 rename \
        in-place openat:when=2 write,writev fsync close close:when=2; do
        if [ "$call" == in-place ]; then
            record=/tmp/record.bin
            ln -sf "$record" "$installed"
            continue
        fi
        cp old.bin "$record"
        strace -f -o /dev/null -P "$temporary" -P "$record" -P "$installed" \
            -e trace="${call%%:*}" -e inject="$call:signal=SIGKILL" \
            "${launcher[@]}" ./unitcfg >/dev/null 2>&1
        expect_eq "status of the run killed at $call" "$?" 137
        expect_eq "size after a kill at $call" "$(stat -L -c %s "$installed")" 44
        if ! cmp -s old.bin "$installed" && [ "$(record_xor "$installed")" != 0 ]; then
            fail "after a kill at $call the record is neither the old one nor a right new one"
        fi
        # The next run repairs the record.
        run_unitcfg
        cmp -s old.bin "$installed" && fail "after a kill at $call the record was not repaired"
        expect_no_temporary_file
    done
    [ -L "$installed" ] || fail "the symbolic link was replaced"
}

case_nothing_present() {
    run_unitcfg
    expect_eq "standard output" "$(cat stdout.txt)" ""
    expect_eq "files written" \
        "$(find /tmp /home /usr/share/Quarvane -mindepth 1 -not -path /tmp/Quarvane \
            -not -path /home/Quarvane)" ""
}

# "--help", "--version" or "--check" alone prints its text and does nothing else: no process
# starts, nothing is written, and none of the unit's files changes; "--help" and "--version"
# open none of them, "--check" opens them only for reading. Any other arguments are ignored: a
# boot script's "start", or "--version" among others, does the whole job.
case_arguments() {
    identity_record 6170 >/tmp/UNIT.CFG
    typical_staged_record >/tmp/Quarvane/6170.CFG
    config_record 89 -2036 1310 3 21017 0xAF51 >right.bin
    cp right.bin "$installed"
    echo "history before" >"$history"
    local option
    for option in --help --version; do
        expect_only_reads "$option" 0
        grep -q -E '/tmp/UNIT|/tmp/Quarvane|/usr/share/Quarvane|/home/Quarvane' trace.txt &&
            fail "$option touched the unit's files: $(grep Quarvane trace.txt | head -n 3)"
    done
    "${launcher[@]}" ./unitcfg --version >stdout.txt
    grep -q -x -E 'unitcfg 1\.0' stdout.txt &&
        grep -q -x -E 'build: [^,]+, [^,]+, (static|dynamic)' stdout.txt ||
        fail "--version printed '$(cat stdout.txt)'"
    "${launcher[@]}" ./unitcfg --help | grep -q 'See unitcfg(8)' || fail "--help says nothing"

    # --check: a staged file a run would install over a right record; a record the repair would
    # correct, every line of the report; a right record; a short file; no installed file.
    expect_only_reads --check 1
    grep -q -x 'install: yes' stdout.txt && grep -q -x 'staged: 44 bytes' stdout.txt &&
        grep -q -x 'repair: adjusted_value 0 -> -2026' stdout.txt || fail "--check: $(cat stdout.txt)"
    rm /tmp/Quarvane/6170.CFG
    config_record 89 0 1310 0 0 0 >"$installed"
    expect_only_reads --check 1
    expect_eq "--check of a record to repair" "$(cat stdout.txt)" "$(cat <<'REPORT'
identity: 6170
known: yes
staged: missing
installed: 44 bytes
tag: 89
adjusted_value: 0
selector: 1310
option_byte: 0
adjust_stamp: 0
checksum: 0x0000 (wrong)
install: no
repair: option_byte 0 -> 3
repair: adjusted_value 0 -> -2036
repair: adjust_stamp 0 -> 21017
repair: checksum 0x0000 -> 0xAF51
REPORT
)"
    cp right.bin "$installed"
    expect_only_reads --check 0
    grep -q -x 'repair: none' stdout.txt && grep -q -x 'checksum: 0xAF51 (right)' stdout.txt ||
        fail "--check of a right record: $(cat stdout.txt)"
    head -c 43 right.bin >"$installed"
    expect_only_reads --check 2
    grep -q -x 'installed: short, 43 bytes' stdout.txt || fail "--check, short: $(cat stdout.txt)"
    rm "$installed"
    expect_only_reads --check 2
    grep -q -x 'installed: missing' stdout.txt || fail "--check without a file: $(cat stdout.txt)"
    # An erased record's tag, as every build prints it. A staged FIFO or directory is not opened
    # (a FIFO would block), and a run's copy of it installs nothing.
    printf '\377\377\377\377' | dd of="$installed" conv=notrunc status=none
    cat right.bin >>"$installed"
    local staged
    for staged in fifo directory; do
        [ $staged == fifo ] && mkfifo /tmp/Quarvane/6170.CFG
        [ $staged == directory ] && rm /tmp/Quarvane/6170.CFG && mkdir /tmp/Quarvane/6170.CFG
        expect_only_reads --check 0
        grep -q -x 'tag: 4294967295' stdout.txt && grep -q -x 'install: no' stdout.txt &&
            grep -q -x 'staged: not a regular file' stdout.txt || fail "--check, $staged: $(cat stdout.txt)"
    done
    # Without an identity the unit is not known; with no installed file, a run that would
    # install is what the status tells.
    rmdir /tmp/Quarvane/6170.CFG && mv /tmp/UNIT.CFG identity.bin
    expect_only_reads --check 0
    grep -q -x 'known: no' stdout.txt || fail "--check without an identity: $(cat stdout.txt)"
    mv identity.bin /tmp/UNIT.CFG && rm "$installed" && cp right.bin /tmp/Quarvane/6170.CFG
    expect_only_reads --check 1
    grep -q -x 'install: yes' stdout.txt || fail "--check, nothing installed: $(cat stdout.txt)"
    # A report that cannot be written has a status of its own.
    "${launcher[@]}" ./unitcfg --check >/dev/full 2>/dev/null
    expect_eq "status of --check >/dev/full" "$?" 3

    local arguments
    for arguments in start "--version --help" "-v /etc/passwd" "--check start"; do
        rm -f "$installed" "$history"
        typical_staged_record >/tmp/Quarvane/6170.CFG
        # shellcheck disable=SC2086 # each is a list of arguments
        case_typical_install $arguments
    done
}

# Runs the program with the only argument $1 under strace; it must exit with status $2, start
# no process, write nothing but its standard output, open nothing for writing, and leave every
# one of the unit's files as it was. Its output is left in stdout.txt, the trace in trace.txt.
# An emulator's own log of system calls (system_calls/) is not the program's doing.
expect_only_reads() {
    local state writes
    state=$(unit_files_state)
    timeout 60 strace -f -y -o trace.txt -e trace=%file,%process,write,flock "${launcher[@]}" \
        ./unitcfg "$1" >stdout.txt 2>stderr.txt
    expect_eq "exit status of $1" "$?" "$2"
    expect_eq "the unit's files after $1" "$(unit_files_state)" "$state"
    expect_eq "programs started by $1" "$(grep -c 'execve(' trace.txt)" 1
    grep -v CLONE_THREAD trace.txt | grep -q -E '[^a-z_](v?fork|clone3?)\(' &&
        fail "$1 started a process"
    writes=$(grep -v -e 'system_calls/' -e '^[0-9]* *execve(' -e '^[0-9]* *write(1<' trace.txt |
        grep -E -e 'O_WRONLY|O_RDWR|O_CREAT|unlink|rename|mkdir|chmod|chown|truncate|flock\(' \
            -e ' (sym)?link(at)?\(|^[0-9]+ +write\(')
    [ -z "$writes" ] || fail "$1 wrote: $(head -n 3 <<<"$writes")"
}

# Every file and directory under the unit's paths, with a digest of each file's bytes.
unit_files_state() {
    find /tmp/UNIT.CFG /tmp/Quarvane /usr/share/Quarvane /home/Quarvane | sort |
        while read -r path; do
            [ -f "$path" ] && echo "$path $(md5sum <"$path")" || echo "$path"
        done
}

# Gives the sandbox a user database that knows the application user, 1234, whose own group is
# 5678. False where other users cannot be had (a user namespace that maps root alone).
# A user of another number $1:$2 is used where processes of that user are looked for, so that
# cases run side by side (another build's, or the unit tests') do not see each other's.
add_app_account() {
    local uid=${1:-1234} gid=${2:-5678}
    : >owner.probe && chown "$uid:$gid" owner.probe 2>/dev/null && rm owner.probe || return 1
    grep -q "^[a-z]*:x:$uid:" /etc/passwd && return 0
    cp /etc/passwd passwd.sandbox &&
        echo "app$uid:x:$uid:$gid:application user:/home/Quarvane:/bin/sh" >>passwd.sandbox &&
        mount --bind passwd.sandbox /etc/passwd
}

# Refuses what another user could have put at the staged path, or made of the way to it, the
# way a missing staged file fails: nothing is copied, the message, the failure entry, and
# `--check` names the reason. $1: what is expected on --check's staged line.
expect_refused_copy() {
    echo "installed before" >"$installed"
    rm -f "$history"
    timeout 60 "${launcher[@]}" ./unitcfg --check >check.txt
    grep -q -x "staged: $1" check.txt && grep -q -x 'install: no' check.txt ||
        fail "$attack: --check said $(grep -e '^staged' -e '^install' check.txt | tr '\n' ' ')"
    timeout 60 "${launcher[@]}" ./unitcfg >stdout.txt 2>stderr.txt
    expect_eq "$attack: exit status" "$?" 0
    expect_eq "$attack: standard output" "$(cat stdout.txt)" \
        "Command not found or exited with error status"
    expect_eq "$attack: installed file" "$(cat "$installed")" "installed before"
    expect_one_outcome_entry " - UNIT_CFG of 6170 updated failed. Might not found the file."
}

# Nothing a local user puts in /tmp, in the history's directory or on the way to the installed
# file turns the root run: a set-uid staged program is installed as data; a staged file that
# another user could have placed or changed (a link to a secret, a FIFO, a device, a huge
# file, a hard link, another's file, in a directory others may write or reach) is refused;
# where the history's directory is another user's, its pipelines run as that user; a link at
# the installed path along a way others may change is not written through; leftovers go.
case_hostile_paths() {
    identity_record 6170 >/tmp/UNIT.CFG
    local other="" attack
    add_app_account && other=1234:5678
    mkdir -m 700 /tmp/secret && echo "root's secret" >/tmp/secret/file
    typical_staged_record >/tmp/Quarvane/6170.CFG
    chmod 4755 /tmp/Quarvane/6170.CFG
    run_unitcfg
    expect_typical_repaired_record
    expect_eq "mode of a first installed file" "$(stat -c %a "$installed")" 644

    for attack in link fifo device huge hard-link other-owner open-directory linked-directory \
        other-identity open-file group-writable open-identity; do
        rm -rf /tmp/Quarvane /tmp/theirs && mkdir -m 755 /tmp/Quarvane
        typical_staged_record >/tmp/Quarvane/6170.CFG
        case $attack in
        link) ln -sf /tmp/secret/file /tmp/Quarvane/6170.CFG && expect_refused_copy "not trusted, a link" ;;
        fifo) rm /tmp/Quarvane/6170.CFG && mkfifo /tmp/Quarvane/6170.CFG &&
            expect_refused_copy "not a regular file" ;;
        device) ln -sf /dev/zero /tmp/Quarvane/6170.CFG && expect_refused_copy "not trusted, a link" ;;
        huge) truncate -s 1T /tmp/Quarvane/6170.CFG && expect_refused_copy "not trusted, too large" ;;
        hard-link) rm /tmp/Quarvane/6170.CFG && ln /tmp/secret/file /tmp/Quarvane/6170.CFG &&
            expect_refused_copy "not trusted, many links" ;;
        other-owner) [ -z "$other" ] ||
            { chown "$other" /tmp/Quarvane/6170.CFG && expect_refused_copy "not trusted, another user's"; } ;;
        open-directory) chmod 777 /tmp/Quarvane && expect_refused_copy "not trusted, open to others" ;;
        linked-directory) mv /tmp/Quarvane /tmp/theirs && ln -s /tmp/theirs /tmp/Quarvane &&
            expect_refused_copy "not trusted, a link" ;;
        other-identity) [ -z "$other" ] || {
            chown "$other" /tmp/UNIT.CFG && "${launcher[@]}" ./unitcfg --check >check.txt
            grep -q -x "identity: not trusted, another user's" check.txt || fail "identity: $(head -n 1 check.txt)"
            rm -f "$history" && run_unitcfg && [ ! -e "$history" ] || fail "another's identity installed"
            chown 0:0 /tmp/UNIT.CFG
        } ;;
        open-file) chmod 666 /tmp/Quarvane/6170.CFG && expect_refused_copy "not trusted, open to others" ;;
        group-writable) chmod 664 /tmp/Quarvane/6170.CFG &&
            expect_refused_copy "not trusted, open to others" ;;
        open-identity)
            chmod 666 /tmp/UNIT.CFG && "${launcher[@]}" ./unitcfg --check >check.txt
            grep -q -x "identity: not trusted, open to others" check.txt || fail "identity: $(head -n 1 check.txt)"
            rm -f "$history" && run_unitcfg && [ ! -e "$history" ] || fail "an identity others may write installed"
            chmod 644 /tmp/UNIT.CFG
            ;;
        esac
    done

    # The installed path a link into a directory others may change: nothing is written there.
    mkdir -m 777 /tmp/data && echo "theirs" >/tmp/data/UNIT.CFG
    rm -rf /tmp/Quarvane && mkdir -m 755 /tmp/Quarvane && typical_staged_record >/tmp/Quarvane/6170.CFG
    rm -f "$installed" "$history" && ln -s /tmp/data/UNIT.CFG "$installed"
    run_unitcfg
    expect_eq "through a link others may re-point" "$(cat /tmp/data/UNIT.CFG)" "theirs"
    expect_one_outcome_entry " - UNIT_CFG of 6170 updated failed. Might not found the file."
    "${launcher[@]}" ./unitcfg --check | grep -q -x "installed: not trusted, open to others" ||
        fail "--check through a link others may re-point"

    # The history's directory is the application user's: a link there gets nothing of root's,
    # and a history root made on earlier boots is handed over and goes on growing.
    rm -f "$installed" "$history"
    if [ -n "$other" ]; then
        chown "$other" /home/Quarvane && ln -s /tmp/secret/file "$history"
        run_unitcfg
        expect_typical_repaired_record
        expect_eq "a file through the history's link" "$(cat /tmp/secret/file)" "root's secret"
        rm "$history" && echo "earlier boot" >"$history"
        run_unitcfg
        expect_eq "history's owner" "$(stat -c %u:%g "$history")" "$other"
        expect_eq "history's first line" "$(head -n 1 "$history")" "earlier boot"
        expect_eq "history's lines" "$(grep -c 'updated successfully' "$history")" 1

        # A plain chown leaves the directory root's group: the entries still run with the
        # owner's own group, and a file group root may write gets nothing through a link.
        mkdir -m 755 /tmp/group-root && echo "group root's" >/tmp/group-root/file
        chmod 664 /tmp/group-root/file
        rm "$history" && chown 1234:0 /home/Quarvane && ln -s /tmp/group-root/file "$history"
        run_unitcfg
        expect_eq "a file group root may write" "$(cat /tmp/group-root/file)" "group root's"
        rm "$history" && run_unitcfg
        expect_eq "history's owner under root's group" "$(stat -c %u:%g "$history")" "$other"
        # An owner with no account gets no entries; the install goes on.
        rm "$history" && chown 4321:4321 /home/Quarvane && echo "installed before" >"$installed"
        run_unitcfg
        expect_typical_repaired_record
        [ -e "$history" ] && fail "entries for an owner with no account"
        chown 0:0 /home/Quarvane
    fi

    # What an interrupted run leaves goes with the next run that writes the installed file: a
    # repair, or an install, which then replaces a file that has one link again.
    typical_staged_record >"$installed"
    rm /tmp/UNIT.CFG && echo partial >"$temporary"
    run_unitcfg
    expect_no_temporary_file
    expect_typical_repaired_record
    identity_record 6170 >/tmp/UNIT.CFG && ln "$installed" "$temporary"
    run_unitcfg
    expect_no_temporary_file
    expect_eq "links after a rename cut in two" "$(stat -c %h "$installed")" 1
    expect_typical_repaired_record
}

# The way to the installed file's directory is judged whole: where a directory on it is
# another user's, or the directory itself is open to others (sticky or not), nothing is copied,
# rewritten or removed there (the message, the failure entry, --check names the reason). A read-only root's
# layout, the directory a root-owned link to a data partition, installs when all of it is
# root's.
case_installed_directory_way() {
    identity_record 6170 >/tmp/UNIT.CFG
    typical_staged_record >/tmp/Quarvane/6170.CFG
    local data=/home/appdata/Quarvane way
    umount -R /usr/share/Quarvane && rmdir /usr/share/Quarvane && mkdir -p -m 755 "$data" &&
        ln -s "$data" /usr/share/Quarvane || { fail "cannot link the installed directory"; return; }
    for way in theirs sticky group-writable; do
        chown 0:0 /home/appdata && chmod 755 "$data" && chgrp 0 "$data"
        case $way in
        theirs) add_app_account || continue; chown 1234:5678 /home/appdata ;;
        sticky) chmod 1777 "$data" ;;
        group-writable) chmod 775 "$data" && chgrp 5678 "$data" ;;
        esac
        config_record 89 0 1309 0 0 0 >"$installed" && cp "$installed" before.bin
        echo "theirs" >"$data/UNIT.CFG.new" && rm -f "$history"
        timeout 60 "${launcher[@]}" ./unitcfg --check >check.txt
        local reason="open to others"
        [ $way == theirs ] && reason="another user's"
        grep -q -x "installed: not trusted, $reason" check.txt && grep -q -x 'install: no' check.txt ||
            fail "$way: --check said $(grep '^install' check.txt | tr '\n' ' ')"
        run_unitcfg
        expect_eq "$way: standard output" "$(cat stdout.txt)" \
            "Command not found or exited with error status"
        cmp -s before.bin "$installed" || fail "$way: the installed file was written"
        # Not even a leftover's name is removed in a directory others may change.
        expect_eq "$way: files beside it" "$(ls -A "$data" | tr '\n' ' ')" "UNIT.CFG UNIT.CFG.new "
        rm "$data/UNIT.CFG.new"
        expect_one_outcome_entry " - UNIT_CFG of 6170 updated failed. Might not found the file."
    done
    chown 0:0 /home/appdata && chmod 755 "$data" && chgrp 0 "$data" && rm -f "$history"
    run_unitcfg
    expect_one_outcome_entry " - UNIT_CFG of 6170 updated successfully."
    expect_typical_repaired_record
}

# The application user owns the history's directory, makes the history a FIFO so that an
# entry's shell waits, and traces that shell as soon as it runs as theirs, keeping the trace
# so that its end is reported to them, not to the run. The run was started from a terminal
# with a secret in its environment and a descriptor of root's left open. The user's processes
# hold none of it (no terminal, no session of root's, no descriptor beyond the three standard
# ones, /dev/null or pipes, no variable but PATH, TZ and the locale, "/" as the working
# directory), the run ends within its bounds all the same, and of the entry nothing outlives
# it but the traced shell the tracer holds.
case_history_tracer() {
    # Where the shell is an ARM program, each of the user's processes is the emulator, which
    # holds the program it runs open and is told the CPU and the libraries by its variables.
    local emulator_holds=()
    readelf -h /bin/sh 2>/dev/null | grep -q 'Machine: *ARM$' &&
        emulator_holds=(-e '^fd [0-9]* -> /usr/bin/[a-z]*$' -e '^environ QEMU_[A-Z_]*=')
    identity_record 6170 >/tmp/UNIT.CFG
    typical_staged_record >/tmp/Quarvane/6170.CFG
    add_app_account 2468 2468 || { echo "no other users here: nothing to trace as one"; return; }
    chown 2468:2468 /home/Quarvane && mkfifo "$history" && chown 2468:2468 "$history"
    # The user can read and write only in /tmp here.
    cp tracer.pl /tmp/tracer.pl && : >/tmp/tracer.txt && chown 2468:2468 /tmp/tracer.txt
    setpriv --reuid=2468 --regid=2468 --clear-groups perl /tmp/tracer.pl /tmp/tracer.txt 30 &
    local tracer=$! started=$SECONDS took left tries
    sleep 0.2
    # The work directory is reachable only as ".": a shell must not go by its name in $PWD.
    UNITCFG_TEST_SECRET="root's secret" SHELL=/bin/sh timeout 120 script -q -e -c \
        "exec 7<./records.sh; exec ${launcher[*]} ./unitcfg" /dev/null >stdout.txt 2>&1
    expect_eq "exit status" "$?" 0
    took=$((SECONDS - started))
    [ "$took" -le 15 ] || fail "the run took $took s with the tracer holding its child"
    expect_typical_repaired_record
    grep -q '^seized ' /tmp/tracer.txt || fail "the tracer did not attach: $(cat /tmp/tracer.txt)"
    grep -q '^process ' /tmp/tracer.txt || fail "the tracer saw no process: $(cat /tmp/tracer.txt)"
    local held
    held=$(grep -v -e '^seized ' -e '^process ' -e '^fd [012] -> /dev/null$' \
        -e '^fd [012] -> pipe:' -e '^session own tty 0$' -e '^cwd /$' \
        -e '^environ PATH=/usr/sbin:/usr/bin:/sbin:/bin$' \
        -e '^environ \(TZ\|LANG\|LANGUAGE\|LC_[A-Z_]*\)=' "${emulator_holds[@]}" /tmp/tracer.txt)
    [ -z "$held" ] || fail "the user's processes held: $(head -n 5 <<<"$held")"
    # A process killed at the deadline may still be on its way out for a moment.
    for ((tries = 0; tries < 20; tries++)); do
        left=$(running_processes_of 2468 | grep -v -x "$tracer")
        [ -z "$left" ] && break
        sleep 0.1
    done
    [ -z "$left" ] || fail "processes of the entry outlived the run: $left $(cat /proc/"${left%%$'\n'*}"/stat)"
    kill "$tracer" 2>/dev/null
    wait "$tracer" 2>/dev/null
}

# The application user stops every process of theirs, over and over, so that an entry's child
# is stopped at any point after it became theirs, its exec included: every run still ends
# within its bounds (each entry stopped costs its 5 s), installs and repairs.
case_stopped_entries() {
    identity_record 6170 >/tmp/UNIT.CFG
    typical_staged_record >/tmp/Quarvane/6170.CFG
    add_app_account 2469 2469 || { echo "no other users here: nothing to stop as one"; return; }
    chown 2469:2469 /home/Quarvane
    setpriv --reuid=2469 --regid=2469 --clear-groups perl -e 'kill STOP => -1 while 1' &
    local stopper=$! round started took
    for ((round = 1; round <= 4; round++)); do
        echo "installed before" >"$installed"
        started=$SECONDS
        timeout 60 "${launcher[@]}" ./unitcfg >stdout.txt 2>stderr.txt
        expect_eq "round $round: exit status" "$?" 0
        took=$((SECONDS - started))
        [ "$took" -le 12 ] || fail "round $round: the run took $took s"
        expect_typical_repaired_record
    done
    kill -9 "$stopper"
    wait "$stopper" 2>/dev/null
    [ -z "$(running_processes_of 2469)" ] || kill -9 $(running_processes_of 2469) 2>/dev/null
}

# Before its exec, a child started for another user holds nothing of the run's but a copy of its
# memory: seen (as root) while its change of user is held up, it holds its three standard
# streams and no other descriptor (not the run's lock, not a file the run was started with),
# and it takes no signal the user might send it (SIGQUIT would dump that memory), until then.
case_entry_child_before_exec() {
    identity_record 6170 >/tmp/UNIT.CFG
    typical_staged_record >/tmp/Quarvane/6170.CFG
    add_app_account 2470 2470 || { echo "no other users here: no child for one"; return; }
    chown 2470:2470 /home/Quarvane
    strace -f -o /dev/null -e trace=setuid -e inject=setuid:delay_exit=1500000 \
        "${launcher[@]}" ./unitcfg 7<./records.sh >stdout.txt 2>stderr.txt &
    local run=$! copy="" tries blocked signal
    for ((tries = 0; tries < 200; tries++)); do
        copy=$(running_processes_of 2470 | head -n 1)
        [ -n "$copy" ] && break
        sleep 0.02
    done
    if [ -z "$copy" ]; then
        fail "no child of the user's was seen"
    else
        expect_eq "the child's descriptors before its exec" \
            "$(ls /proc/"$copy"/fd | sort -n | tr '\n' ' ')" "0 1 2 "
        blocked=$(awk '$1 == "SigBlk:" { print $2 }' /proc/"$copy"/status)
        for signal in HUP INT QUIT USR1 PIPE TERM CONT TSTP; do
            (((0x$blocked >> ($(kill -l "$signal") - 1)) & 1)) ||
                fail "SIG$signal is not blocked before the exec (mask $blocked)"
        done
    fi
    wait "$run"
    expect_eq "exit status" "$?" 0
    expect_typical_repaired_record
}

# The processes of user $1 that have not ended, one ID a line.
running_processes_of() {
    local status pid
    for status in $(grep -l -E "^Uid:[[:space:]]+$1[[:space:]]" /proc/[0-9]*/status 2>/dev/null); do
        grep -q -E '^State:[[:space:]]+Z' "$status" 2>/dev/null && continue
        pid=${status#/proc/}
        echo "${pid%/status}"
    done
}

# A history that blocks (a FIFO) and a lock held by someone else end no run: it waits for the
# lock as long as a run may last, goes on without it, installs, repairs, and the outcome entry
# is given up at its deadline.
case_held_lock() {
    identity_record 6170 >/tmp/UNIT.CFG
    typical_staged_record >/tmp/Quarvane/6170.CFG
    mkfifo "$history"
    # The holder's descriptor keeps the lock: `flock` takes it, then the shell becomes `sleep`.
    (exec 9</usr/share/Quarvane && flock 9 && exec sleep 120) >/dev/null 2>&1 &
    local holder=$! started=$SECONDS took
    sleep 0.5
    timeout 120 "${launcher[@]}" ./unitcfg >stdout.txt 2>stderr.txt
    expect_eq "exit status" "$?" 0
    took=$((SECONDS - started))
    kill "$holder"
    [ "$took" -ge 24 ] && [ "$took" -le 45 ] || fail "the run took $took s, want 25 s for the lock and 5 for the entry"
    expect_eq "standard output" "$(cat stdout.txt)" ""
    expect_typical_repaired_record
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
    # A FIFO as the identity record is not opened, so the run does not wait on it.
    rm /tmp/UNIT.CFG && mkfifo /tmp/UNIT.CFG
    timeout 60 "${launcher[@]}" ./unitcfg >stdout.txt 2>&1
    expect_eq "status and output with a FIFO as the identity" "$? $(cat stdout.txt)" "0 "
}

case_failed_copy() {
    identity_record 6170 >/tmp/UNIT.CFG
    echo "installed before" >"$installed"
    run_unitcfg
    expect_eq "standard output" "$(cat stdout.txt)" "Command not found or exited with error status"
    expect_eq "installed file" "$(cat "$installed")" "installed before"
    expect_one_outcome_entry " - UNIT_CFG of 6170 updated failed. Might not found the file."
}

# Puts in place of the system's `cp` (the program searches only the system's directories) one
# that runs the shell text $1, then the real copy, which stays reachable in /tmp/fakebin/real.
# The sandbox's mounts end with it; `real_cp` puts the system's back.
fake_cp() {
    local system_cp=/usr/bin/cp
    real_cp
    mkdir -p /tmp/fakebin/real && : >/tmp/fakebin/real/cp
    mount --bind "$system_cp" /tmp/fakebin/real/cp || fail "cannot keep the real cp"
    printf '#!/bin/sh\n%s\nexec /tmp/fakebin/real/cp "$@"\n' "$1" >/tmp/fakebin/cp
    chmod +x /tmp/fakebin/cp
    mount --bind /tmp/fakebin/cp "$system_cp" || fail "cannot put a cp in place of the system's"
}

real_cp() {
    [ -e /tmp/fakebin/cp ] || return 0
    umount /usr/bin/cp && umount /tmp/fakebin/real/cp && rm -f /tmp/fakebin/cp
}

# Puts a `cp` in /tmp/fakebin that writes the first 20 bytes of its source to its destination
# and then kills itself: a copy cut short.
fake_cp_cut_short() {
    fake_cp 'eval "destination=\${$#}"; head -c 20 "$1" >"$destination"; kill -s KILL $$'
}

# A standard output whose reader has gone ends nothing: the failure is logged, the record
# repaired, the exit status 0. The copy still starts with SIGPIPE at its default.
case_stdout_without_reader() {
    identity_record 6170 >/tmp/UNIT.CFG
    typical_staged_record >"$installed"
    fake_cp 'sh -c '\''kill -s PIPE $$; echo "the copy started with SIGPIPE ignored"'\'
    perl -e '$SIG{PIPE} = "DEFAULT"; pipe(my $r, my $w) or die;
        close $r; open(STDOUT, ">&", $w) or die; exec @ARGV or die' -- \
        "${launcher[@]}" ./unitcfg 2>stderr.txt
    expect_eq "exit status" "$?" 0
    grep -q "SIGPIPE ignored" "$history" && fail "the copy started with SIGPIPE ignored"
    expect_one_outcome_entry " - UNIT_CFG of 6170 updated failed. Might not found the file."
    expect_typical_repaired_record
}

# The steps that bring the installed file to storage, one a line, from the `strace -f -y` log
# $1: the copy's exit, the start of `date`, and the program's own calls on the installed file
# (its read handle outlives the rename: "deleted"), the temporary file and their directory.
storage_steps() {
    awk -v file="<$installed" -v temporary="<$temporary>" -v directory="<${installed%/*}>" '
        NR == 1 { main = $1 }
        $2 ~ /^execve\("[^"]*\/cp"/ { copy = $1 }
        $1 == copy && /\+\+\+ exited/ { print "cp exited" }
        $2 ~ /^execve\("[^"]*\/date"/ && !date_started { print "date started"; date_started = 1 }
        $1 == main && $2 ~ /^rename/ { print "rename" }
        $1 == main && $2 ~ /^(write|fsync|close)\(/ {
            call = substr($2, 1, index($2, "(") - 1)
            if (index($2, file ">") || index($2, file " (deleted)>")) print call " file"
            if (index($2, temporary)) print call " temporary"
            if (index($2, directory)) print call " directory"
        }' "$1"
}

# The copy reaches storage under its temporary name after `cp` has exited, is renamed over the
# installed file, and the rename reaches storage with the directory, all before `date` starts.
# The repair's new file goes the same way before the read handle of the old one is closed. The
# directory's lock, which keeps a second run waiting, is let go last.
case_flushed_to_storage() {
    identity_record 6170 >/tmp/UNIT.CFG
    typical_staged_record >/tmp/Quarvane/6170.CFG
    strace -f -y -o trace.txt -e trace=execve,write,fsync,close,rename,renameat,renameat2 \
        "${launcher[@]}" ./unitcfg >stdout.txt 2>stderr.txt
    expect_eq "exit status" "$?" 0
    expect_eq "steps to storage" "$(storage_steps trace.txt | tr '\n' ' ')" "cp exited \
fsync temporary close temporary rename fsync directory close directory date started \
write temporary close temporary fsync temporary close temporary rename \
fsync directory close directory close file close directory "
    expect_typical_repaired_record
    expect_no_temporary_file
}

# The typical run's record, as the repair leaves it.
expect_typical_repaired_record() {
    expect_eq "installed record" "$(describe_record "$installed")" \
        "$(typical_repaired_description)"
}

# A copy killed by a signal is logged as a failed install, and leaves the installed file as it
# was, even when it dies after writing part of the new file.
case_copy_killed() {
    identity_record 6170 >/tmp/UNIT.CFG
    typical_staged_record >/tmp/Quarvane/6170.CFG
    echo "installed before" >"$installed"
    strace -f -o /dev/null -P /tmp/Quarvane/6170.CFG -e trace=openat \
        -e inject=openat:signal=SIGKILL "${launcher[@]}" ./unitcfg >stdout.txt 2>stderr.txt
    expect_eq "exit status" "$?" 0
    expect_eq "standard output" "$(cat stdout.txt)" "Command not found or exited with error status"
    expect_one_outcome_entry " - UNIT_CFG of 6170 updated failed. Might not found the file."

    rm "$history"
    fake_cp_cut_short
    run_unitcfg
    expect_eq "installed file after a copy killed part-way" "$(cat "$installed")" "installed before"
    expect_no_temporary_file
    expect_one_outcome_entry " - UNIT_CFG of 6170 updated failed. Might not found the file."
}

# With too few file descriptors for a pipe the copy cannot start: one message, exit 0.
case_no_pipe() {
    identity_record 6170 >/tmp/UNIT.CFG
    typical_staged_record >/tmp/Quarvane/6170.CFG
    echo "installed before" >"$installed"
    # With only descriptors 0-2 open, the run's lock on the installed directory takes 3, the
    # identity file 4 and is closed; a pipe needs 4 and 5. Descriptors the test runner left open are closed first (the shell's own, 255, is
    # closed on exec).
    (
        for fd in /proc/$BASHPID/fd/*; do
            fd=${fd##*/}
            [ "$fd" -gt 2 ] && [ "$fd" -ne 255 ] && eval "exec $fd>&-"
        done 2>/dev/null
        ulimit -n 5 && "${launcher[@]}" ./unitcfg >stdout.txt 2>stderr.txt
    )
    expect_eq "exit status" "$?" 0
    expect_eq "standard output" "$(cat stdout.txt)" "Error opening pipe!"
    expect_eq "installed file" "$(cat "$installed")" "installed before"
}

# Without the history directory the entries are lost, but the install and the repair are not.
case_no_history_directory() {
    rmdir /home/Quarvane
    identity_record 6170 >/tmp/UNIT.CFG
    typical_staged_record >/tmp/Quarvane/6170.CFG
    run_unitcfg
    expect_eq "standard output" "$(cat stdout.txt)" ""
    expect_typical_repaired_record
}

# Every chunk of a copy output larger than a pipe holds (64 KiB) is logged, in order, before the
# outcome entry, so the copy blocks while entries are written. Each 254-byte line is two chunks:
# 127 bytes cut short, which leaves no empty line, then 127 ending in its newline, which does.
# UNITCFG_MANY_LINES asks for fewer lines where each chunk costs two emulated processes.
case_many_output_lines() {
    identity_record 6170 >/tmp/UNIT.CFG
    typical_staged_record >/tmp/Quarvane/6170.CFG
    local lines=${UNITCFG_MANY_LINES:-260} pattern
    pattern="line %05g $(printf '%242s' '' | tr ' ' x)"
    fake_cp "seq -f '$pattern' $lines"
    run_unitcfg
    expect_eq "logged chunks in order" "$(head -n -1 "$history" | md5sum)" "$(seq -f "$pattern" \
        "$lines" | awk '{ print "MO:  " substr($0, 1, 127); print "MO:  " substr($0, 128); print "" }' |
        md5sum)"
    case "$(tail -n 1 "$history")" in
    *" - UNIT_CFG of 6170 updated successfully.") ;;
    *) fail "the outcome entry is not last" ;;
    esac
    expect_typical_repaired_record
}

# The boot job's init script, as an rcS runs it: start does the whole job, stop changes
# nothing, check and status report and exit with the report's status, restart runs it again,
# an unknown action exits 2. The program is put at /usr/sbin/unitcfg, where the script finds it
# (started by the launcher, when there is one), on an overlay that ends with the sandbox.
case_init_script() {
    identity_record 6170 >/tmp/UNIT.CFG
    typical_staged_record >/tmp/Quarvane/6170.CFG
    local layers state
    layers=$(mktemp -d -p . sbin.XXXXXX) && mount -t tmpfs sandbox-sbin "$layers" &&
        mkdir "$layers/upper" "$layers/work" && cp unitcfg "$layers/upper/unitcfg" &&
        mount -t overlay sandbox-sbin -o \
            "lowerdir=/usr/sbin,upperdir=$layers/upper,workdir=$layers/work" /usr/sbin ||
        { fail "cannot put the program at /usr/sbin/unitcfg"; return; }
    if [ ${#launcher[@]} -gt 0 ]; then
        mv /usr/sbin/unitcfg /usr/sbin/unitcfg.program
        printf '#!/bin/sh\nexec %s /usr/sbin/unitcfg.program "$@"\n' "${launcher[*]}" \
            >/usr/sbin/unitcfg && chmod +x /usr/sbin/unitcfg
    fi
    state=$(unit_files_state)
    ./unitcfg.init stop >stdout.txt 2>&1
    expect_eq "stop: status, output, files" "$? $(cat stdout.txt) $(unit_files_state)" "0  $state"
    ./unitcfg.init check >stdout.txt
    expect_eq "check before start: status" "$?" 1
    grep -q -x 'install: yes' stdout.txt || fail "check before start: $(cat stdout.txt)"
    ./unitcfg.init start >stdout.txt 2>&1
    expect_eq "start: status, output" "$? $(cat stdout.txt)" "0 "
    expect_one_outcome_entry " - UNIT_CFG of 6170 updated successfully."
    expect_typical_repaired_record
    # The staged file stays in /tmp until the next boot: a run would copy and repair it into the
    # same bytes, so nothing is to change.
    ./unitcfg.init status >stdout.txt
    expect_eq "status after start, still staged" "$?" 0
    ./unitcfg.init check >stdout.txt
    expect_eq "check after start, still staged: status" "$?" 0
    grep -q -x 'install: yes, the same as installed' stdout.txt ||
        fail "check after start, still staged: $(cat stdout.txt)"
    # Another staged record: a run would change the installed file.
    mv /tmp/Quarvane/6170.CFG staged.bin
    config_record 89 0 1310 0 0 0 >/tmp/Quarvane/6170.CFG
    ./unitcfg.init status >stdout.txt
    expect_eq "status, another staged record" "$?" 3
    ./unitcfg.init check >stdout.txt
    expect_eq "check, another staged record: status" "$?" 1
    grep -q -x 'install: yes' stdout.txt || fail "check, another staged record: $(cat stdout.txt)"
    rm /tmp/Quarvane/6170.CFG
    ./unitcfg.init status >stdout.txt
    expect_eq "status after start, nothing staged" "$? $(grep -c -x 'repair: none' stdout.txt)" "0 1"
    mv staged.bin /tmp/Quarvane/6170.CFG
    ./unitcfg.init restart >/dev/null 2>&1
    expect_eq "success entries after restart" "$(grep -c 'updated successfully' "$history")" 2
    ./unitcfg.init reload >stdout.txt 2>&1
    expect_eq "unknown action: status" "$?" 2
    grep -q '^usage: ' stdout.txt || fail "unknown action: $(cat stdout.txt)"
}

if [ "${1:-}" == "--inside" ]; then
    # In the ARM userland, where cat, cp, date and sed are the emulated BusyBox, the cases' own
    # uses of them run the host's, copied into the work directory (the cases never leave it):
    # the program and what it starts still find BusyBox.
    if [ -d harness ]; then
        for tool in cat cp date sed; do
            eval "$tool() { ./harness/$tool \"\$@\"; }"
        done
    fi
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
started=${EPOCHREALTIME/./}
# With UNITCFG_COST_LOG, the case's cost (its time from bash's clock: the userland's date has
# no %N) is added to that file when it ends: the case, the
# layout, the userland, the program, wall seconds and the CPU-seconds of all it ran.
log_cost() {
    [ -n "${UNITCFG_COST_LOG:-}" ] || return 0
    local wall times_file
    wall=$(((${EPOCHREALTIME/./} - started) / 1000))
    # `times` of this shell itself: in a pipeline or $(...) it would count a subshell's.
    times_file=$(mktemp)
    times >"$times_file"
    awk -v name="$case_name ${UNITCFG_LAYOUT:-plain} ${UNITCFG_USERLAND:-host} $binary" \
        -v wall="$wall" 'NR == 2 { split($1, usr, "m"); split($2, sys, "m")
            printf "%s %.1f %.1f\n", name, wall / 1000,
                   usr[1] * 60 + usr[2] + sys[1] * 60 + sys[2] }' "$times_file" >>"$UNITCFG_COST_LOG"
    rm -f "$times_file"
}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/sandbox.sh"
if ! sandbox_available; then
    echo "SKIP: this process may not make a private mount namespace (needs root or user namespaces)"
    exit 77
fi
sandbox_workdir "$binary" "$0" "$here/records.sh" "$here/tracer.pl" "$here/../../boot/unitcfg.init"
mkdir "$sandbox_work/system_calls"
if [ -n "${UNITCFG_HARNESS_TOOLS:-}" ]; then
    mkdir "$sandbox_work/harness" && cp "$UNITCFG_HARNESS_TOOLS"/* "$sandbox_work/harness/"
fi
unset UNITCFG_HARNESS_TOOLS
sandbox_run "$sandbox_work" bash "./$(basename "$0")" --inside "$case_name" "$@"
status=$?
# A launcher that logs system calls leaves its logs in the work directory, which goes with it.
if [ -n "${UNITCFG_SYSTEM_CALL_LOGS:-}" ]; then
    cp "$sandbox_work"/system_calls/*.log "$UNITCFG_SYSTEM_CALL_LOGS"/ 2>/dev/null ||
        { echo "FAIL: no system call logs"; status=1; }
fi
log_cost
exit $status
