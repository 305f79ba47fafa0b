# Every test program cross-built for Windows runs under Wine through
# wine-run.sh, which makes the run unattended and gives it a prefix of its own.
# Included before the tests' targets are made: they take their emulator from
# CMAKE_CROSSCOMPILING_EMULATOR when they are created.
#
# QUARN_WINEPREFIX: WINEPREFIX from the configuring environment, else one in
# the build directory. Both Windows builds may share one: a 64-bit prefix runs
# the 32-bit programs too.
if(NOT DEFINED QUARN_WINEPREFIX)
  if(NOT "$ENV{WINEPREFIX}" STREQUAL "")
    set(QUARN_WINEPREFIX "$ENV{WINEPREFIX}")
  else()
    set(QUARN_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
  endif()
endif()
set(QUARN_WINEPREFIX "${QUARN_WINEPREFIX}" CACHE PATH "Wine prefix for the Windows tests")
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${QUARN_WINEPREFIX}")
