#!/bin/bash
# The built program needs nothing but libc at run time, and never calls the heap itself.
# usage: binary_check.sh UNITCFG
set -u
binary=$1
status=0

needed=$(readelf -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
if [ "$needed" != "libc.so.6 " ]; then
    echo "FAIL: NEEDED libraries are '$needed', want only libc.so.6"
    status=1
fi

heap=$(readelf --dyn-syms -W "$binary" | awk '$7 == "UND" { print $8 }' | sed 's/@.*//' |
    grep -x -E 'malloc|calloc|realloc|free|_Zn[wa][jm].*|_Zd[la]Pv.*|__gxx_personality.*|__cxa_(throw|allocate_exception|begin_catch|end_catch|rethrow|guard_.*|pure_virtual)|_Unwind_.*' || true)
if [ -n "$heap" ]; then
    echo "FAIL: the program imports heap or C++ runtime symbols:" $heap
    status=1
fi

[ $status -eq 0 ] && echo "ok: NEEDED is libc.so.6 only; no heap or C++ runtime imports"
exit $status
