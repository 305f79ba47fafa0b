# Writes the header that tells the command its version and, where the sources
# are a git checkout, the commit it is built from (with "-modified" when the
# checkout has uncommitted changes), for a bug report to quote. Run at every
# build rather than at configure time, so that the commit follows the
# checkout; the header is rewritten only when its text changes, so an
# unchanged commit recompiles nothing. Without git, or outside a checkout, the
# commit is empty and the build goes on.
#
#   cmake -DSOURCE_DIR=... -DVERSION=... -DGIT=... -DOUTPUT=... -P version.cmake
cmake_minimum_required(VERSION 3.20)

set(commit "")
if(GIT AND EXISTS "${SOURCE_DIR}/.git")
  # --exclude='*': the bare commit, whatever tags there are.
  execute_process(
    COMMAND "${GIT}" -C "${SOURCE_DIR}" describe --always --abbrev=12 --dirty=-modified
            --exclude=*
    OUTPUT_VARIABLE commit ERROR_QUIET RESULT_VARIABLE result OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT result EQUAL 0 OR NOT commit MATCHES "^[0-9a-f]+(-modified)?$")
    set(commit "")
  endif()
endif()

set(text "// Written at build time by cmake/version.cmake.\n"
         "#define QUARN_VERSION \"${VERSION}\"\n"
         "#define QUARN_COMMIT \"${commit}\"\n")
string(JOIN "" text ${text})
set(old "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
