#!/bin/sh
# Benchmark of the dump (a script, not a test).
#   (a) "/Getvar" of a 4,194,304-byte variable on the simulated store, whole
#       process under Wine, alternating with a baseline program that pays the
#       same fixed costs and writes the same amount of text with one fwrite;
#   (b) the peak memory of both (see alternate.py for how it is taken);
#   (c) the dump formatter alone, natively, in bytes of text per second;
#   (d) the fleet program's "set" of one byte (SMBIOS read, every guard,
#       read, backup, intent, write, read back, outcome) against one "/Setvar"
#       of the tool, whole process under Wine, on a 64 KiB and a 4 MiB
#       variable; both write every run ("set --force" of the value the byte
#       holds).
# Build the win64/win32 presets first. Environment: BENCH_RUNS (default 10),
# BENCH_OUT (default build/bench), WINEPREFIX (default build/wineprefix).
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=${BENCH_OUT:-$ROOT/build/bench}
RUNS=${BENCH_RUNS:-10}
VARIABLE_BYTES=4194304
NAME=Bench
GUID='{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9}'
export WINEPREFIX="${WINEPREFIX:-$ROOT/build/wineprefix}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset ARDENTIS_SIM_EFIVARS
mkdir -p "$OUT"

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

echo "== (c) FormatDumpText natively (g++ -O2, Google Benchmark)"
g++ -O2 -std=c++17 -I"$ROOT" "$ROOT/bench/format_bench.cpp" "$ROOT/fwvar/dump_format.cpp" \
    -lbenchmark -lpthread -o "$OUT/format_bench"
"$OUT/format_bench" --benchmark_min_time=1 --benchmark_counters_tabular=true

# The variable: attribute word, then 4 MiB of random bytes.
STORE="$OUT/efivars"
rm -rf "$STORE"
mkdir -p "$STORE"
VARFILE="$STORE/$NAME-ec87d643-eba4-4bb5-a1e5-3f3e36b20da9"
printf '\007\000\000\000' > "$VARFILE"
head -c $VARIABLE_BYTES /dev/urandom >> "$VARFILE"
TEXT_BYTES=$((3 * VARIABLE_BYTES + 2 * (VARIABLE_BYTES / 16 - 1)))

for ARCH in win64 win32; do
    case $ARCH in
        win64) LOADER=/usr/lib/wine/wine64; TOOL=Ardentis64-sim.exe; CXX=x86_64-w64-mingw32-g++-posix ;;
        win32) LOADER=/usr/lib/wine/wine; TOOL=Ardentis-sim.exe; CXX=i686-w64-mingw32-g++-posix ;;
    esac
    echo
    echo "== (a)+(b) $ARCH: $TOOL /Getvar of $VARIABLE_BYTES bytes vs baseline, $RUNS alternating runs"
    if [ ! -f "$ROOT/build/$ARCH/$TOOL" ]; then
        echo "skipped: build/$ARCH/$TOOL missing (cmake --preset $ARCH && cmake --build --preset $ARCH)"
        continue
    fi
    if ! "$LOADER" --version > /dev/null 2>&1; then
        echo "skipped: $LOADER cannot run on this machine"
        continue
    fi
    # Built like the tool: release optimisation, statically linked.
    $CXX -O3 -std=c++17 -Wall -Wextra -static -static-libgcc -static-libstdc++ \
        -o "$OUT/baseline-$ARCH.exe" "$ROOT/bench/baseline.cpp"
    /usr/lib/wine/wineserver -p30 2> /dev/null || true  # already running is fine
    "$LOADER" cmd /c exit

    DUMP="$OUT/dump-$ARCH.txt"
    BASE="$OUT/baseline-$ARCH.txt"
    export ARDENTIS_SIM_EFIVARS="$STORE"
    set -- "$LOADER" "$ROOT/build/$ARCH/$TOOL" -uefi -name $NAME -guid "$GUID" /Getvar "$(winpath "$DUMP")"
    # hyperfine -N splits words like a shell: quote the backslashed paths.
    TOOL_CMD="$LOADER $ROOT/build/$ARCH/$TOOL -uefi -name $NAME -guid '$GUID' /Getvar '$(winpath "$DUMP")'"
    /usr/bin/python3 "$ROOT/bench/alternate.py" --runs "$RUNS" dump baseline \
        -- "$@" \
        -- "$LOADER" "$OUT/baseline-$ARCH.exe" $VARIABLE_BYTES "$(winpath "$BASE")"
    for F in "$DUMP" "$BASE"; do
        SIZE=$(stat -c %s "$F")
        [ "$SIZE" -eq $TEXT_BYTES ] || { echo "$F: $SIZE bytes, expected $TEXT_BYTES"; exit 1; }
    done
    echo "both files: $TEXT_BYTES bytes"
    if command -v hyperfine > /dev/null; then
        echo "-- hyperfine (not alternating: all runs of one, then the other)"
        hyperfine -N --warmup 2 --runs "$RUNS" --style basic \
            -n dump "$TOOL_CMD" \
            -n baseline "$LOADER $OUT/baseline-$ARCH.exe $VARIABLE_BYTES '$(winpath "$BASE")'"
    fi
    unset ARDENTIS_SIM_EFIVARS
done

for ARCH in win64 win32; do
    case $ARCH in
        win64) LOADER=/usr/lib/wine/wine64; TOOL=Ardentis64-sim.exe; FLEET=ArdentisFleet64-sim.exe ;;
        win32) LOADER=/usr/lib/wine/wine; TOOL=Ardentis-sim.exe; FLEET=ArdentisFleet-sim.exe ;;
    esac
    if [ ! -f "$ROOT/build/$ARCH/$FLEET" ] || ! "$LOADER" --version > /dev/null 2>&1; then
        echo
        echo "== (d) $ARCH skipped: build/$ARCH/$FLEET missing or $LOADER cannot run here"
        continue
    fi
    for BYTES in 65536 4194304; do
        echo
        echo "== (d) $ARCH: $FLEET set --force with every guard vs $TOOL /Setvar, $BYTES-byte variable, $RUNS alternating runs"
        STORE="$OUT/efivars-fleet"
        rm -rf "$STORE" "$OUT/journal"
        mkdir -p "$STORE"
        VARFILE="$STORE/$NAME-ec87d643-eba4-4bb5-a1e5-3f3e36b20da9"
        printf '\007\000\000\000' > "$VARFILE"
        head -c "$BYTES" /dev/zero >> "$VARFILE"
        # The PC of the end-to-end tests' tables: the guards read and judge it.
        /usr/bin/python3 -c "import sys; sys.path.insert(0, sys.argv[1]); import test_e2e; \
open(sys.argv[2], 'wb').write(test_e2e.smbios_table())" "$ROOT/tests/e2e" "$OUT/smbios.bin"
        export ARDENTIS_SIM_EFIVARS="$STORE" ARDENTIS_FLEET_HOME="$OUT/journal"
        export ARDENTIS_SIM_SMBIOS="$(winpath "$OUT/smbios.bin")"
        /usr/bin/python3 "$ROOT/bench/alternate.py" --runs "$RUNS" --target 1.5 --memory-target 0 fleet setvar \
            -- "$LOADER" "$ROOT/build/$ARCH/$FLEET" set $NAME "$GUID" 1A 0 --force \
               --model "Model 7" --firmware "V1.02" --size "$BYTES" --was 00 \
            -- "$LOADER" "$ROOT/build/$ARCH/$TOOL" -uefi -name $NAME -guid "$GUID" /Setvar 1A 0
        unset ARDENTIS_SIM_EFIVARS ARDENTIS_FLEET_HOME ARDENTIS_SIM_SMBIOS
    done
done
