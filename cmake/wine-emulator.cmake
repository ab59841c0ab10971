# Tests of the Windows targets run under Wine, in the project's own prefix
# (kept in the build folder, shared by both architectures).
get_filename_component(_ardentis_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
if(NOT DEFINED ARDENTIS_WINEPREFIX)
    set(ARDENTIS_WINEPREFIX "${_ardentis_root}/build/wineprefix")
endif()

# Every Wine process of the tests starts without address-space randomisation,
# and so does everything it starts. Debian's Wine loader is a fixed executable
# at 0x7d000000 run without a preloader; the kernel places the brk heap
# anywhere in the gigabyte after it, now and then over the page Wine maps its
# shared user data at (0x7ffe0000). Such a process dies at start with exit code
# 1 and nothing on its output ("failed to map the shared user data: c0000018",
# on Wine's err channel, which the tests keep off): seen in about one run in
# twenty of a suite. Without randomisation the heap follows the loader at once.
find_program(ARDENTIS_SETARCH setarch REQUIRED)
set(ARDENTIS_FIXED_LAYOUT ${ARDENTIS_SETARCH} -R)

set(CMAKE_CROSSCOMPILING_EMULATOR
    ${ARDENTIS_FIXED_LAYOUT} env "WINEPREFIX=${ARDENTIS_WINEPREFIX}" WINEDEBUG=-all
    "WINEDLLOVERRIDES=mscoree,mshtml=" ${ARDENTIS_WINE_LOADER})
