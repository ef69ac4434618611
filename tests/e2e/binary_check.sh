#!/bin/bash
# Checks of the built program as a file, with readelf only (it reads any target's ELF).
# usage:
#   binary_check.sh needs BINARY dynamic|static   what it needs at run time
#   binary_check.sh machine BINARY MACHINE        the ELF header, e.g. MACHINE=ARM
#   binary_check.sh size STRIP BINARY MAX_BYTES   the stripped size
#   binary_check.sh install CMAKE BUILD_DIR       cmake --install with DESTDIR and --strip
#   binary_check.sh package CMAKE BUILD_DIR [ARCH] the Debian package (ARCH: the host's if none)
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
    local binary=$1 linkage=$2 needed imported
    needed=$(readelf -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
    if [ "$linkage" == static ]; then
        [ -z "$needed" ] || fail "a static build needs '$needed'"
        readelf -l "$binary" | grep -q INTERP && fail "a static build asks for a dynamic loader"
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

# What an install under prefix /usr in $1 holds: the stripped program and its manual page.
check_installed_files() {
    local root=$1 program=$1/usr/sbin/unitcfg expect_files files
    [ -x "$program" ] || fail "no executable usr/sbin/unitcfg"
    readelf -S "$program" 2>/dev/null | grep -q '\.symtab' && fail "usr/sbin/unitcfg not stripped"
    expect_files="usr/sbin/unitcfg usr/share/man/man8/unitcfg.8 "
    files=$(cd "$root" && find . -type f | sed 's|^\./||' | sort | tr '\n' ' ')
    [ "$files" == "$expect_files" ] || fail "installed '$files', want '$expect_files'"
}

check_install() {
    local cmake=$1 build=$2 root
    root=$(mktemp -d)
    DESTDIR=$root "$cmake" --install "$build" --prefix /usr --strip >/dev/null || fail "install"
    check_installed_files "$root"
    rm -rf "$root"
    [ $status -eq 0 ] && echo "ok: installed stripped to DESTDIR/usr/sbin/unitcfg, and its manual page"
}

check_package() {
    local cmake=$1 build=$2 arch=${3:-$(dpkg --print-architecture)} deb root floor want depends
    rm -f "$build"/unitcfg_*.deb
    "$cmake" --build "$build" --target package >/dev/null || fail "the package target failed"
    deb=$(echo "$build"/unitcfg_*_"$arch".deb)
    [ -f "$deb" ] || { fail "no unitcfg_<version>_$arch.deb in $build:" "$build"/*.deb; return; }
    [ "$(dpkg-deb -f "$deb" Architecture)" == "$arch" ] || fail "package architecture is not $arch"
    root=$(mktemp -d)
    dpkg-deb -x "$deb" "$root"
    check_installed_files "$root"
    # The binary's own floor: the highest GLIBC_ version among the symbols it imports.
    floor=$(readelf --dyn-syms -W "$root/usr/sbin/unitcfg" | awk '$7 == "UND" { print $8 }' |
        sed -n 's/.*@GLIBC_\([0-9.]*\).*/\1/p' | sort -V | tail -n 1)
    want=${floor:+libc6 (>= $floor)}
    depends=$(dpkg-deb -f "$deb" Depends)
    [ "$depends" == "$want" ] || fail "Depends is '$depends', the binary needs '$want'"
    rm -rf "$root"
    [ $status -eq 0 ] && echo "ok: $(basename "$deb"), Depends: '${depends}'"
}

mode=$1
shift
"check_$mode" "$@"
exit $status
