# Sourced by the wine runners (tests/windows/run_wine_tests.sh,
# eapi/tests/run_wine_eapi.sh): the fake DMI table and the counted program run.
# The caller sets tmp (scratch folder), work (where the programs are) and wine
# (the loader), and reads passed, failed and skipped at the end.
# shellcheck shell=bash

passed=0 failed=0 skipped=0

# Writes a complete fake DMI table into $1 naming board $2. wine builds its
# SMBIOS tables from these files; leaving one out shifts the baseboard strings.
fake_dmi() {
    local dir=$1 board=$2
    mkdir -p "$dir"
    printf '%s\n' "$board" >"$dir/board_name"
    printf '%s\n' "Vek Test Boards" >"$dir/board_vendor"
    printf '%s\n' "1.02" >"$dir/board_version"
    printf '%s\n' "SN-0042-X" >"$dir/board_serial"
    printf '%s\n' "Asset" >"$dir/board_asset_tag"
    printf '%s\n' "Fake BIOS Works" >"$dir/bios_vendor"
    printf '%s\n' "R1.07.B" >"$dir/bios_version"
    printf '%s\n' "06/26/2026" >"$dir/bios_date"
    printf '%s\n' "Vek Test Boards" >"$dir/sys_vendor"
    printf '%s\n' "Test System" >"$dir/product_name"
    printf '%s\n' "1.0" >"$dir/product_version"
    printf '%s\n' "SYS-1" >"$dir/product_serial"
    printf '%s\n' "12345678-1234-1234-1234-123456789abc" >"$dir/product_uuid"
    printf '%s\n' "Vek Test Boards" >"$dir/chassis_vendor"
    printf '%s\n' "3" >"$dir/chassis_type"
    printf '%s\n' "1.0" >"$dir/chassis_version"
    printf '%s\n' "CH-1" >"$dir/chassis_serial"
    printf '%s\n' "Asset" >"$dir/chassis_asset_tag"
}

# run NAME DMI_DIR|- COMMAND...: one program run in $work, its closing
# "N passed, N failed" line counted; with expect set, one more check that the
# output holds that text. DMI_DIR: a private /sys/class holding only that fake
# DMI table (unshare -m); "-": the host's own.
run() {
    local name=$1 dmi=$2
    shift 2
    local log=$tmp/$name.log rc started=$SECONDS
    echo "== $name"
    if [ "$dmi" = - ]; then
        (cd "$work" && timeout 120 "$wine" "$@") >"$log" 2>&1
        rc=$?
    else
        (cd "$work" && DMI="$dmi" timeout 120 unshare -m sh -c \
            'mount -t tmpfs none /sys/class && mkdir -p /sys/class/dmi/id && cp "$DMI"/* /sys/class/dmi/id/ && exec "$0" "$@"' \
            "$wine" "$@") >"$log" 2>&1
        rc=$?
    fi
    tr -d '\r' <"$log" | sed 's/^/   /'
    local line p=0 f=0
    line=$(tr -d '\r' <"$log" | grep -E '[0-9]+ passed, [0-9]+ failed$' | tail -1)
    if [ -n "$line" ]; then
        p=$(sed -E 's/.* ([0-9]+) passed, ([0-9]+) failed$/\1/' <<<"$line")
        f=$(sed -E 's/.* ([0-9]+) passed, ([0-9]+) failed$/\2/' <<<"$line")
    fi
    [ -n "${expect:-}" ] && { grep -q -- "$expect" "$log" && p=$((p + 1)) || f=$((f + 1)); }
    # A crash or a time-out is one more failure.
    if [ $rc -ne 0 ] && [ "$f" -eq 0 ]; then
        echo "   $name: exit code $rc"
        f=1
    fi
    passed=$((passed + p))
    failed=$((failed + f))
    echo "   ($((SECONDS - started)) s)"
}

skip() {
    echo "== $1"
    echo "   SKIPPED: $2"
    skipped=$((skipped + 1))
}
