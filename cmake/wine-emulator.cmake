# Tests of the Windows targets run under Wine, in the project's own prefix
# (kept in the build folder, shared by both architectures).
get_filename_component(_ardentis_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
if(NOT DEFINED ARDENTIS_WINEPREFIX)
    set(ARDENTIS_WINEPREFIX "${_ardentis_root}/build/wineprefix")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR
    env "WINEPREFIX=${ARDENTIS_WINEPREFIX}" WINEDEBUG=-all
    "WINEDLLOVERRIDES=mscoree,mshtml=" ${ARDENTIS_WINE_LOADER})
