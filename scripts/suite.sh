# Building and testing presets, and fetching the ARM packages the stages run, for scripts/test
# and the stages it runs. Source this file.
#
# A skipped test fails the run: an end-to-end case that could not run (no namespace could be
# made) proves nothing, and a green run must mean every case ran. Whoever runs the tests on a
# machine where that cannot be, and accepts it on purpose, sets UNITCFG_ALLOW_SKIPS=1.

# Configures and builds configure preset $1.
build_preset() {
    cmake --preset "$1"
    cmake --build --preset "$1" -j "$(nproc)"
}

# Runs test preset $1; fails when a test failed, or was skipped and skips are not allowed.
test_preset() {
    local log status=0 skipped
    log=$(mktemp)
    ctest --preset "$1" -j "$(nproc)" --no-tests=error --output-log "$log" || status=$?
    skipped=$(grep -c -- '\*\*\*Skipped' "$log" || true)
    rm -f "$log"
    [ "$status" -eq 0 ] || return "$status"
    if [ "$skipped" -gt 0 ] && [ "${UNITCFG_ALLOW_SKIPS:-}" != 1 ]; then
        echo "$1: $skipped test(s) skipped, so this run proves nothing for them" \
            "(UNITCFG_ALLOW_SKIPS=1 accepts that on purpose)" >&2
        return 1
    fi
}

# Unpacks Debian's armel package $1 into directory $2 (apt-get download; needs root for
# dpkg --add-architecture armel and for an apt-get update when the lists are old).
fetch_armel_package() {
    local download=$2-deb
    dpkg --print-foreign-architectures | grep -qx armel || dpkg --add-architecture armel
    rm -rf "$download" && mkdir -p "$download"
    (
        cd "$download"
        apt-get download -q "$1:armel" || { apt-get update -qq && apt-get download -q "$1:armel"; }
    )
    dpkg-deb -x "$download"/"$1"_*_armel.deb "$2"
}
