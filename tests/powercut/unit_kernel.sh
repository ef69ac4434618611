#!/bin/bash
# Builds the emulated unit's kernel, once: Debian's linux-source-6.1 from tinyconfig plus
# unit_kernel.config, by the ARM cross compiler. It is kept outside the work tree, in
# $UNITCFG_CACHE (default ~/.cache/unitcfg, or /var/cache/unitcfg without a home), under a hash
# of the configuration, the source package's version and the compiler's, so that a machine that
# built it once does not build it again. Prints the directory that holds zImage and
# versatile-pb.dtb.
# usage: unit_kernel.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_tarball=/usr/src/linux-source-6.1.tar.xz
cross=arm-linux-gnueabi-
cache_root=${XDG_CACHE_HOME:-${HOME:+$HOME/.cache}}
cache=${UNITCFG_CACHE:-${cache_root:-/var/cache}/unitcfg}

key=$({
    cat "$here/unit_kernel.config"
    dpkg-query -W -f '${Version}\n' linux-source-6.1
    "${cross}gcc" --version | head -n 1
} | sha256sum | cut -c 1-16)
kernel=$cache/kernel-$key
if [ -f "$kernel/zImage" ] && [ -f "$kernel/versatile-pb.dtb" ]; then
    echo "$kernel"
    exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tar -xf "$source_tarball" -C "$work"
source=$(echo "$work"/linux-source-6.1)
make_kernel() { make -C "$source" O="$work/build" ARCH=arm CROSS_COMPILE="$cross" "$@"; }
make_kernel -s tinyconfig >&2
"$source/scripts/kconfig/merge_config.sh" -m -O "$work/build" "$work/build/.config" \
    "$here/unit_kernel.config" >/dev/null
make_kernel -s olddefconfig >&2
# Every setting asked for must have held: olddefconfig drops what a dependency refuses.
missing=$(grep -v '^#' "$here/unit_kernel.config" | grep -v -x -F -f "$work/build/.config" || true)
[ -z "$missing" ] || { echo "unit_kernel.sh: not in the built configuration: $missing" >&2; exit 1; }
make_kernel -s -j "$(nproc)" zImage versatile-pb.dtb >&2
mkdir -p "$kernel.new"
cp "$work/build/arch/arm/boot/zImage" "$work/build/arch/arm/boot/dts/versatile-pb.dtb" \
    "$work/build/.config" "$kernel.new/"
rm -rf "$kernel" && mv "$kernel.new" "$kernel"
echo "$kernel"
