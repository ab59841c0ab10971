#!/usr/bin/env bash
# Sets everything up, builds both architectures and runs the tool's main job
# on its built-in simulated firmware: a variable is created in the simulated
# store, one byte changed with /Setvar, dumped with /Getvar; the fleet program
# checks, sets and takes back another byte of it; /Delvar deletes it.
set -euo pipefail
. "$(dirname "$0")/common.sh"
enter_prefix "$@"

"$ROOT/scripts/install-deps.sh"
cd "$ROOT"
for preset in win64 win32; do
    cmake --preset "$preset" >/dev/null
done
cmake --build --preset win64 --target Ardentis64 Ardentis64-sim ArdentisFleet64-sim
cmake --build --preset win32 --target Ardentis Ardentis-sim ArdentisFleet-sim
wine_warm

NAME=ArdentisDemo
GUID='{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9}'
demo() {
    local wine=$1 exe=$2 fleet=$3
    local store
    store=$(mktemp -d /tmp/ardentis-demo.XXXXXX)
    # A 32-byte variable as firmware would hold it: attribute word 7, then data.
    {
        printf '\x07\x00\x00\x00'
        for i in $(seq 0 31); do printf "\\x$(printf %02x "$i")"; done
    } > "$store/$NAME-ec87d643-eba4-4bb5-a1e5-3f3e36b20da9"
    export ARDENTIS_SIM_EFIVARS="$store"
    echo
    echo "##### $(basename "$exe") #####"
    echo "\$ $(basename "$exe") -uefi -name $NAME -guid $GUID /Setvar 1A 5"
    local rc=0
    "$wine" "$exe" -uefi -name "$NAME" -guid "$GUID" /Setvar 1A 5 || rc=$?
    echo "(exit code $rc)"
    echo "\$ $(basename "$exe") -uefi -name $NAME -guid $GUID /Getvar dump.txt"
    rc=0
    (cd "$store" && "$wine" "$exe" -uefi -name "$NAME" -guid "$GUID" /Getvar dump.txt) || rc=$?
    echo "(exit code $rc)"
    echo "--- dump.txt ---"
    cat "$store/dump.txt"
    echo
    echo "----------------"
    # The fleet program's journal goes beside the store, not under ProgramData.
    export ARDENTIS_FLEET_HOME="$store/journal"
    for command in check set set undo; do
        echo "\$ $(basename "$fleet") $command $NAME $GUID 1B 7E"
        rc=0
        "$wine" "$fleet" "$command" "$NAME" "$GUID" 1B 7E || rc=$?
        echo "(exit code $rc)"
    done
    unset ARDENTIS_FLEET_HOME
    echo "\$ $(basename "$exe") -uefi -name $NAME -guid $GUID /Delvar"
    rc=0
    "$wine" "$exe" -uefi -name "$NAME" -guid "$GUID" /Delvar || rc=$?
    echo "(exit code $rc)"
    echo "Variables left in the store: $(find "$store" -name "$NAME-*" | wc -l)"
    rm -rf "$store"
    unset ARDENTIS_SIM_EFIVARS
}

demo "$WINE64" "$ROOT/build/win64/Ardentis64-sim.exe" "$ROOT/build/win64/ArdentisFleet64-sim.exe"
if why=$(i386_runs); then
    demo "$WINE32" "$ROOT/build/win32/Ardentis-sim.exe" "$ROOT/build/win32/ArdentisFleet-sim.exe"
else
    echo
    echo "##### Ardentis-sim.exe: built ($ROOT/build/win32), not run: $why #####"
fi
wine_stop
