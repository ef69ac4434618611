# What the inits of both guests share (BusyBox's shell on the emulated unit, dash under UML),
# once the unit's storage is mounted: the run as at boot and, in check mode, the report of what
# the storage holds before it and after it. Sourced by unit_init.sh and uml_init.sh, which
# define halt.

installed=/usr/share/Quarvane/UNIT.CFG

# Says what the storage holds at moment $1 (before, after): the installed record in
# hexadecimal, its links, whether a temporary file is beside it, whether the success entry is
# in the history.
report() {
    # Each value straight from the utility to the console, through no shell variable. The
    # record's bytes on one line, each after a space (od prints no line for an empty file); a
    # file longer than the line is torn anyway.
    printf 'unit: %s record' "$1"
    if [ -s "$installed" ]; then
        od -A n -t x1 -v -w4096 "$installed" 2>/dev/null || echo
    else
        echo
    fi
    printf 'unit: %s links ' "$1"
    stat -c %h "$installed" 2>/dev/null || echo
    [ -e "$installed.new" ] && echo "unit: $1 temporary file left"
    grep -q "UNIT_CFG of 6170 updated successfully" /home/Quarvane/History.txt 2>/dev/null &&
        echo "unit: $1 success entry"
}

# Stages unit 6170 in the tmpfs /tmp, as the unit's boot does before the job runs.
stage_unit() {
    mkdir /tmp/Quarvane
    cp /stage/UNIT.CFG /tmp/UNIT.CFG && cp /stage/6170.CFG /tmp/Quarvane/6170.CFG ||
        halt "FAIL: cannot stage unit 6170"
}

# Stages unit 6170 and runs unitcfg as at boot.
run_as_at_boot() {
    [ "$unitcfg_mode" = check ] && report before
    stage_unit
    unitcfg
    [ "$unitcfg_mode" = check ] && report after
}
