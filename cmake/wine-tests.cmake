# Every test program cross-built for Windows runs under Wine through
# wine-run.sh, which makes the run unattended and gives it a prefix of its own.
# Included before the tests' targets are made: they take their emulator from
# CMAKE_CROSSCOMPILING_EMULATOR when they are created.
#
# QUARN_WINEPREFIX: WINEPREFIX from the configuring environment, else one in
# the build directory. Both Windows builds may share one: a 64-bit prefix runs
# the 32-bit programs too. (Where 32-bit programs cannot run, wine-run.sh uses
# QUARN_WINEPREFIX-wine64 instead.)
if(NOT DEFINED QUARN_WINEPREFIX)
  if(NOT "$ENV{WINEPREFIX}" STREQUAL "")
    set(QUARN_WINEPREFIX "$ENV{WINEPREFIX}")
  else()
    set(QUARN_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
  endif()
endif()
set(QUARN_WINEPREFIX "${QUARN_WINEPREFIX}" CACHE PATH "Wine prefix for the Windows tests")
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${QUARN_WINEPREFIX}")

# A 32-bit program cannot run where the kernel runs no 32-bit x86 code:
# wine-run.sh then says so in one line and exits 77, which CTest reports as
# skipped. So every 32-bit test added from here on, in this directory and
# below, takes 77 as "skipped" (CMake before 3.28 cannot set a property of a
# test from outside its directory, hence the wrapper). wine-run.sh never lets a
# program that ran exit 77.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  function(add_test)
    _add_test(${ARGV})
    if(ARGV0 STREQUAL "NAME")
      set_tests_properties(${ARGV1} PROPERTIES SKIP_RETURN_CODE 77)
    else()
      set_tests_properties(${ARGV0} PROPERTIES SKIP_RETURN_CODE 77)
    endif()
  endfunction()
endif()
