# Shared by the project's scripts: paths and the Wine environment.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="${ARDENTIS_WINEPREFIX:-$ROOT/build/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
WINESERVER=/usr/lib/wine/wineserver

# 32-bit Windows programs need Wine's 32-bit loader, a 32-bit Linux program.
# Some kernels refuse those ("Exec format error"): then the i386 programs are
# built and checked, but cannot be run on this machine.
can_run_i386() {
    local dir
    dir=$(mktemp -d)
    printf '.globl _start\n_start:\n mov $1,%%eax\n xor %%ebx,%%ebx\n int $0x80\n' > "$dir/t.s"
    local ok=1
    if as --32 "$dir/t.s" -o "$dir/t.o" 2>/dev/null && ld -m elf_i386 "$dir/t.o" -o "$dir/t" 2>/dev/null &&
        "$dir/t" 2>/dev/null; then
        ok=0
    fi
    rm -rf "$dir"
    return $ok
}

# Whether this machine runs the i386 suite: the kernel must run 32-bit
# programs and Wine's 32-bit loader must be installed (install-deps.sh
# installs it where the kernel allows). Says why not on standard output.
i386_runs() {
    if ! can_run_i386; then
        echo "this kernel does not run 32-bit programs"
        return 1
    fi
    if [ ! -x "$WINE32" ]; then
        echo "Wine's 32-bit loader is not installed (see install-deps.sh's output)"
        return 1
    fi
    return 0
}

# Creates the Wine prefix $WINEPREFIX unless it exists (both architectures
# where both Wine loaders are installed). A prefix made before the 32-bit
# loader was installed has no 32-bit system folder: it is made anew.
wine_prefix_ready() {
    if [ -f "$WINEPREFIX/system.reg" ]; then
        [ -x "$WINE32" ] && [ ! -e "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ] || return 0
        echo "== The Wine prefix $WINEPREFIX lacks the 32-bit side: making it anew"
        "$WINESERVER" -k 2>/dev/null || true
        rm -rf "$WINEPREFIX"
    fi
    echo "== Creating the Wine prefix $WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    "$WINE64" wineboot -i >/dev/null 2>&1
    "$WINESERVER" -w
}

# Starts the prefix's wineserver and warms it: a cold one makes every test
# start slowly or inherit Wine's background services.
wine_warm() {
    # The server's own complaints (protocol errors, killed clients) are kept.
    "$WINESERVER" -p 2>>"$WINEPREFIX.server.log" || true  # already running is fine
    "$WINE64" cmd /c exit >/dev/null 2>&1 || true
}

wine_stop() {
    "$WINESERVER" -k 2>/dev/null || true
}

# Enters the Wine prefix for a whole script run (call it once WINEPREFIX is
# final, as: enter_prefix "$@"): re-executes the calling script with its
# arguments
#  - under an exclusive lock beside the prefix, waiting for a run that holds
#    it. A run ends by stopping the prefix's wineserver, which ends every
#    process still running in it with exit code 1 and its output lost, another
#    run's tests among them; two suites in one prefix would also share the
#    tool's named mutex. flock keeps the lock itself (-o): the wineserver and
#    the tests started by the run do not inherit it.
#  - without address-space randomisation, for the reason given in
#    cmake/wine-emulator.cmake: Wine started by the run then never dies at
#    start because the kernel put its heap where Wine maps shared user data.
# Scripts started by a run that entered the prefix go on at once.
enter_prefix() {
    [ "${ARDENTIS_PREFIX_HELD:-}" = "$WINEPREFIX" ] && return 0
    local lock="$WINEPREFIX.lock"
    mkdir -p "$(dirname "$WINEPREFIX")"
    if ! flock -n "$lock" true; then
        echo "== Waiting for the run that uses the Wine prefix $WINEPREFIX to end" >&2
    fi
    ARDENTIS_PREFIX_HELD=$WINEPREFIX exec flock -o "$lock" \
        setarch -R bash "$ROOT/scripts/$(basename "$0")" "$@"
}
