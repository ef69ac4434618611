#!/bin/bash
# Checks of the built program as a file, with readelf only (it reads any target's ELF).
# usage:
#   binary_check.sh needs BINARY dynamic|static LIBC   what it needs at run time
#   binary_check.sh machine BINARY MACHINE        the ELF header, e.g. MACHINE=ARM
#   binary_check.sh size STRIP BINARY MAX_BYTES   the stripped size
#   binary_check.sh system_calls TABLE LOG_DIR    the calls in qemu-arm's logs are all in TABLE
#   binary_check.sh install CMAKE BUILD_DIR PACKAGE     cmake --install with DESTDIR and --strip
#   binary_check.sh package CMAKE BUILD_DIR PACKAGE [ARCH]  the Debian package named PACKAGE
#                                                       (ARCH: the host's if none)
#   binary_check.sh prefix_boot CMAKE BUILD_DIR [LAUNCHER...]  hand installs under prefixes
#                          other than /usr, and the boot job started from one (LAUNCHER: what
#                          starts the program, for a cross build)
set -u
status=0
fail() {
    echo "FAIL: $*"
    status=1
}

# C++ runtime symbols: none may be used, since units may not carry libstdc++. (A static libc
# brings its own unwinder, so the unwinder's symbols count only as imports, from libgcc_s.)
cxx_runtime='_Zn[wa][jm].*|_Zd[la]Pv.*|__gxx_personality.*|__cxa_(throw|allocate_exception|begin_catch|end_catch|rethrow|guard_.*|pure_virtual)'

check_needs() {
    local binary=$1 linkage=$2 libc=$3 needed imported
    needed=$(readelf -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
    if [ "$linkage" == static ]; then
        [ -z "$needed" ] || fail "a static build needs '$needed'"
        readelf -l "$binary" | grep -q INTERP && fail "a static build asks for a dynamic loader"
        # glibc's note names its own kernel floor; a static build for any unit claims none.
        [ "$libc" == glibc ] || ! readelf -n "$binary" | grep -q NT_GNU_ABI_TAG ||
            fail "a static $libc build carries an ABI note: $(readelf -n "$binary" | grep ABI:)"
        imported=$(readelf -s -W "$binary" | awk '{ print $8 }' | grep -x -E "$cxx_runtime")
        [ -z "$imported" ] || fail "C++ runtime linked in:" $imported
    else
        [ "$needed" == "libc.so.6 " ] || fail "NEEDED libraries are '$needed', want only libc.so.6"
        imported=$(readelf --dyn-syms -W "$binary" | awk '$7 == "UND" { print $8 }' |
            sed 's/@.*//' | grep -x -E "malloc|calloc|realloc|free|_Unwind_.*|$cxx_runtime")
        [ -z "$imported" ] || fail "the program imports heap or C++ runtime symbols:" $imported
    fi
    [ $status -eq 0 ] && echo "ok: $linkage, needs ${needed:-nothing}, no heap or C++ runtime use"
}

check_machine() {
    local binary=$1 machine=$2 header
    header=$(readelf -h "$binary")
    grep -q 'Class: *ELF32$' <<<"$header" || fail "not a 32-bit ELF"
    grep -q 'Data: *.*little endian' <<<"$header" || fail "not little-endian"
    grep -q "Machine: *$machine\$" <<<"$header" || fail "machine is not $machine"
    [ "$machine" != ARM ] || check_arm_attributes "$binary" "$header"
    [ $status -eq 0 ] && echo "ok: 32-bit little-endian $machine" && grep Flags <<<"$header"
}

# The unit is an ARMv5TE core without a floating-point unit: EABI5, built for v5TE at most,
# soft float with no FP instructions.
check_arm_attributes() {
    local binary=$1 header=$2 attributes
    attributes=$(readelf -A "$binary")
    grep -q 'Flags: .*Version5 EABI' <<<"$header" || fail "not EABI5"
    grep -q 'Flags: .*soft-float ABI' <<<"$header" || fail "not the soft-float ABI"
    grep -q 'Tag_CPU_arch: v5TE$' <<<"$attributes" ||
        fail "built for another core: $(grep Tag_CPU_arch: <<<"$attributes")"
    grep -q -E 'Tag_FP_arch|Tag_ABI_VFP_args|Tag_Advanced_SIMD_arch' <<<"$attributes" &&
        fail "uses floating-point hardware: $(grep -E 'Tag_(FP|ABI_VFP|Advanced)' <<<"$attributes")"
    echo "$attributes" | grep -E 'Tag_CPU_arch:|Tag_THUMB_ISA_use'
}

check_size() {
    local strip=$1 binary=$2 max=$3 stripped size
    stripped=$(mktemp)
    "$strip" -o "$stripped" "$binary" || fail "cannot strip $binary"
    size=$(stat -c %s "$stripped")
    rm -f "$stripped"
    [ "$size" -le "$max" ] || fail "stripped size $size bytes is over $max"
    [ $status -eq 0 ] && echo "ok: stripped size $size bytes (at most $max)"
}

# Every system call in the qemu-arm -strace logs in $2 is in table $1; prints the floor that
# follows: the highest version among the calls made (or their fallbacks) and the "eabi" line.
check_system_calls() {
    local table=$1 logs=$2 made missing floor
    made=$(cat "$logs"/*.log 2>/dev/null | sed -n -E 's/^[0-9]+ ([a-z_0-9]+)\(.*/\1/p' | sort -u)
    [ -n "$made" ] || { fail "no system calls logged in $logs"; return; }
    missing=$(grep -v -x -F -f <(awk '!/^#/ && NF { print $1 }' "$table") <<<"$made")
    [ -z "$missing" ] || fail "system calls missing from $table:" $missing
    floor=$(awk 'NR == FNR { made[$1] = 1; next }
                 !/^#/ && NF && ($1 in made || $1 == "eabi") { print (NF > 2 ? $3 : $2) }' \
        <(echo "$made") "$table" | sort -V | tail -n 1)
    [ $status -eq 0 ] && echo "ok: $(wc -l <<<"$made") system calls, all in the table;" \
        "floor Linux $floor"
}

# What an install under prefix /usr in $1 of package $2 holds: the stripped program, its
# manual page and the changelog compressed with gzip -9n, the init script and the systemd unit
# naming the program at /usr/sbin (the unit verified by systemd-analyze against that tree),
# the installed file's directory, empty and 0755, and for a static build the lintian override
# that says so.
check_installed_files() {
    local root=$1 name=$2 program=$1/usr/sbin/unitcfg expect_files files document
    [ -x "$program" ] || fail "no executable usr/sbin/unitcfg"
    readelf -S "$program" 2>/dev/null | grep -q '\.symtab' && fail "usr/sbin/unitcfg not stripped"
    expect_files="etc/init.d/unitcfg lib/systemd/system/unitcfg.service usr/sbin/unitcfg "
    expect_files+="usr/share/doc/$name/changelog.gz "
    readelf -d "$program" | grep -q NEEDED ||
        expect_files+="usr/share/lintian/overrides/$name "
    expect_files+="usr/share/man/man8/unitcfg.8.gz "
    files=$(cd "$root" && find . -type f | sed 's|^\./||' | sort | tr '\n' ' ')
    [ "$files" == "$expect_files" ] || fail "installed '$files', want '$expect_files'"
    for document in usr/share/man/man8/unitcfg.8.gz usr/share/doc/$name/changelog.gz; do
        # gzip -9n: no file name (flags 0) and no time stamp in the header.
        [ "$(od -A n -t x1 -j 3 -N 5 "$root/$document" 2>/dev/null)" == " 00 00 00 00 00" ] ||
            fail "$document is not compressed with gzip -n"
    done
    [ -x "$root/etc/init.d/unitcfg" ] || fail "the init script is not executable"
    check_boot_files_name "$root" /usr/sbin/unitcfg
    [ "$(stat -c %a "$root/usr/share/Quarvane" 2>/dev/null)" == 755 ] ||
        fail "no directory usr/share/Quarvane of mode 0755"
    [ -z "$(ls -A "$root/usr/share/Quarvane" 2>/dev/null)" ] || fail "usr/share/Quarvane is not empty"
    # The unit orders itself after systemd's own targets: they are verified with it, from the
    # host's systemd, in a copy of the tree.
    local verified
    verified=$(mktemp -d)
    cp -a "$root/." "$verified/" && cp -a -n /lib/systemd/system/. "$verified/lib/systemd/system/"
    MANPATH=$root/usr/share/man systemd-analyze verify --root="$verified" \
        "$verified/lib/systemd/system/unitcfg.service" || fail "systemd-analyze verify"
    rm -rf "$verified"
}

# The init script and the systemd unit installed in $1 name program $2, and only it.
check_boot_files_name() {
    local root=$1 program=$2
    [ "$(grep -c '^program=' "$root/etc/init.d/unitcfg")" == 1 ] &&
        grep -q -x "program=$program" "$root/etc/init.d/unitcfg" ||
        fail "the init script names $(grep '^program=' "$root/etc/init.d/unitcfg"), want $program"
    [ "$(grep -c '^ExecStart=' "$root/lib/systemd/system/unitcfg.service")" == 1 ] &&
        grep -q -x "ExecStart=$program" "$root/lib/systemd/system/unitcfg.service" ||
        fail "the systemd unit names $(grep '^ExecStart=' \
            "$root/lib/systemd/system/unitcfg.service"), want $program"
}

check_install() {
    local cmake=$1 build=$2 name=$3 root
    root=$(mktemp -d)
    DESTDIR=$root "$cmake" --install "$build" --prefix /usr --strip >/dev/null || fail "install"
    check_installed_files "$root" "$name"
    rm -rf "$root"
    [ $status -eq 0 ] && echo "ok: installed stripped to DESTDIR/usr/sbin/unitcfg, with its documents"
}

# Makes the package of build $2 afresh and prints its file's path.
make_package() {
    local cmake=$1 build=$2 name=$3 arch=$4
    rm -f "$build"/"$name"_*.deb
    "$cmake" --build "$build" --target package >/dev/null || fail "the package target failed"
    echo "$build"/"$name"_*_"$arch".deb
}

check_package() {
    local cmake=$1 build=$2 name=$3 arch=${4:-$(dpkg --print-architecture)}
    local deb root floor want depends first findings
    deb=$(make_package "$cmake" "$build" "$name" "$arch")
    [ -f "$deb" ] || { fail "no ${name}_<version>_$arch.deb in $build:" "$build"/*.deb; return; }
    [ "$(dpkg-deb -f "$deb" Package)" == "$name" ] || fail "package name is not $name"
    [ "$(dpkg-deb -f "$deb" Architecture)" == "$arch" ] || fail "package architecture is not $arch"
    root=$(mktemp -d)
    dpkg-deb -x "$deb" "$root"
    check_installed_files "$root" "$name"
    [ "$(dpkg-deb -I "$deb" conffiles)" == /etc/init.d/unitcfg ] ||
        fail "the init script is not the one conffile"
    dpkg-deb -c "$deb" | grep -q -E '^drwxr-xr-x root/root .* \./usr/share/Quarvane/$' ||
        fail "the package makes no /usr/share/Quarvane of root's, 0755"
    # The binary's own floor: the highest GLIBC_ version among the symbols it imports.
    floor=$(readelf --dyn-syms -W "$root/usr/sbin/unitcfg" | awk '$7 == "UND" { print $8 }' |
        sed -n 's/.*@GLIBC_\([0-9.]*\).*/\1/p' | sort -V | tail -n 1)
    want=${floor:+libc6 (>= $floor)}
    depends=$(dpkg-deb -f "$deb" Depends)
    [ "$depends" == "$want" ] || fail "Depends is '$depends', the binary needs '$want'"
    rm -rf "$root"
    # Debian's checker finds nothing but the copyright file, which waits for a licence.
    findings=$(lintian "$deb" 2>/dev/null | grep -v -x "E: $name: no-copyright-file")
    [ -z "$findings" ] || fail "lintian: $findings"
    # The same sources give the same package, bit for bit.
    first=$(md5sum <"$deb")
    sleep 1
    [ "$(md5sum <"$(make_package "$cmake" "$build" "$name" "$arch")")" == "$first" ] ||
        fail "a second package of the same build differs"
    [ $status -eq 0 ] && echo "ok: $(basename "$deb"), Depends: '${depends}', lintian: no-copyright-file only"
}

# Hand installs of build $2 under prefixes other than the packages' /usr, each into a DESTDIR:
# the prefix the build was configured with, then /usr/local/unitcfg given to --prefix. The boot
# files name the program where each install put it (the systemd unit verified against the
# second tree). Then the second's init script runs the job from there in a sandbox
# (sandbox.sh) where /usr/sbin holds no unitcfg; $3...: what starts the program, if anything.
check_prefix_boot() {
    local cmake=$1 build=$2 configured given=/usr/local/unitcfg here root verified
    shift 2
    here=$(cd "$(dirname "$0")" && pwd)
    configured=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
    [ -n "$configured" ] && [ "$configured" != /usr ] && [ "$configured" != "$given" ] ||
        { fail "$build is configured for prefix '$configured', not one of a hand install"; return; }
    root=$(mktemp -d)
    DESTDIR=$root "$cmake" --install "$build" >/dev/null || fail "install with prefix $configured"
    [ -x "$root$configured/sbin/unitcfg" ] || fail "no program in $configured/sbin"
    check_boot_files_name "$root" "$configured/sbin/unitcfg"
    rm -rf "$root" && mkdir "$root"
    DESTDIR=$root "$cmake" --install "$build" --prefix "$given" >/dev/null ||
        fail "install with --prefix $given"
    check_boot_files_name "$root" "$given/sbin/unitcfg"
    # systemd finds the program the unit names in that tree, and nothing at /usr/sbin.
    verified=$(mktemp -d)
    cp -a "$root/." "$verified/" && cp -a -n /lib/systemd/system/. "$verified/lib/systemd/system/"
    MANPATH=$root$given/share/man systemd-analyze verify --root="$verified" \
        "$verified/lib/systemd/system/unitcfg.service" || fail "systemd-analyze verify"
    rm -rf "$verified"
    [ $status -eq 0 ] || { rm -rf "$root"; return; }

    source "$here/sandbox.sh"
    if ! sandbox_available; then
        rm -rf "$root"
        echo "SKIP: this process may not make a private mount namespace"
        exit 77
    fi
    sandbox_workdir "$0" "$here/records.sh"
    # shellcheck disable=SC2154 # set by sandbox_workdir
    mv "$root" "$sandbox_work/root"
    sandbox_run "$sandbox_work" bash ./binary_check.sh prefix_boot_inside "$given" "$@" || status=1
    [ $status -eq 0 ] && echo "ok: the boot files name $configured/sbin/unitcfg and," \
        "given --prefix, $given/sbin/unitcfg; the init script ran the job from there"
}

# Inside the sandbox: the init script installed in ./root for prefix $1 answers status while
# the prefix is empty, then, the program laid there, checks, starts the job and answers again.
check_prefix_boot_inside() {
    local given=$1 init=./root/etc/init.d/unitcfg installed=/usr/share/Quarvane/UNIT.CFG
    local history=/home/Quarvane/History.txt
    shift
    source ./records.sh
    # A unitcfg at /usr/sbin, the template's path, is hidden: a plain file no one may run.
    if [ -e /usr/sbin/unitcfg ]; then
        : >hidden && mount --bind hidden /usr/sbin/unitcfg || fail "cannot hide /usr/sbin/unitcfg"
    fi
    mount -t tmpfs sandbox-prefix /usr/local && mkdir -p "$given" || fail "cannot empty /usr/local"
    $init status >/dev/null
    expect_status "status, no program" $? 4
    $init start >out.txt 2>&1
    expect_status "start, no program: status, output, history" \
        "$? $(cat out.txt) $(ls /home/Quarvane)" "0  "

    cp -a "./root$given/." "$given/" || fail "cannot lay the program in $given"
    if [ $# -gt 0 ]; then
        mv "$given/sbin/unitcfg" "$given/sbin/unitcfg.program"
        printf '#!/bin/sh\nexec %s %s/sbin/unitcfg.program "$@"\n' "$*" "$given" >"$given/sbin/unitcfg"
        chmod +x "$given/sbin/unitcfg"
    fi
    $init status >out.txt
    expect_status "status, nothing installed" $? 4
    identity_record 6170 >/tmp/UNIT.CFG
    typical_staged_record >/tmp/Quarvane/6170.CFG
    $init check >out.txt
    expect_status "check, staged" $? 1
    $init status >out.txt
    expect_status "status, staged" $? 3
    grep -q -x 'install: yes' out.txt || fail "status, staged: printed $(cat out.txt)"
    $init start >out.txt 2>&1
    expect_status "start: status, output" "$? $(cat out.txt)" "0 "
    [ "$(wc -l <"$history" 2>/dev/null)" == 1 ] &&
        grep -q -E '. - UNIT_CFG of 6170 updated successfully\.$' "$history" ||
        fail "history: $(cat "$history" 2>/dev/null)"
    [ "$(describe_record "$installed")" == "$(typical_repaired_description)" ] ||
        fail "installed record: $(describe_record "$installed")"
    $init status >out.txt
    expect_status "status after start, still staged" $? 0
    rm /tmp/Quarvane/6170.CFG
    $init status >out.txt
    expect_status "status after start, nothing staged" $? 0
    $init check >out.txt
    expect_status "check after start, nothing staged" $? 0
    head -c 20 /tmp/UNIT.CFG >"$installed"
    $init status >out.txt
    expect_status "status, a short installed file" $? 4
    $init check >out.txt
    expect_status "check, a short installed file" $? 2
}

expect_status() { # what got want
    [ "$2" == "$3" ] || fail "$1: got '$2', want '$3'"
}

mode=$1
shift
"check_$mode" "$@"
exit $status
