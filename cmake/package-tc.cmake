# Packs both Windows plugins with pluginst.inf into the zip that Total
# Commander offers to install when the user opens it: Quarn.wcx (32-bit) and
# Quarn.wcx64 (64-bit) side by side, as Total Commander 64-bit looks for it.
# Each DLL is first checked as tests/pe checks it (machine, exports including
# the Unicode ones, system imports only, stripped, a version resource of the
# version in CMakeLists.txt), so a package never carries a plugin that a host
# would load without its Unicode interface, nor one left from an older build.
# Then the zip is read back: it must hold exactly those three files.
#
#   cmake -DSOURCE_DIR=... -DWIN32_BUILD=... -DWIN64_BUILD=... -DOUTPUT=... -P package-tc.cmake
cmake_minimum_required(VERSION 3.20)

set(w32 "${WIN32_BUILD}/Quarn.wcx")
set(w64 "${WIN64_BUILD}/Quarn.wcx64")
foreach(file IN ITEMS "${w32}" "${w64}")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "package-tc: ${file} is missing: build the Windows targets first "
      "(tools/test-windows.sh)")
  endif()
endforeach()

# The version, from the one place it is written.
file(STRINGS "${SOURCE_DIR}/CMakeLists.txt" project REGEX "^project\\(Quarn VERSION ")
string(REGEX MATCH "VERSION ([0-9]+\\.[0-9]+\\.[0-9]+)" _ "${project}")
set(version "${CMAKE_MATCH_1}")

function(check prefix file machine)
  find_program(objdump_${prefix} ${prefix}-w64-mingw32-objdump)
  execute_process(COMMAND "${CMAKE_COMMAND}" -DOBJDUMP=${objdump_${prefix}} -DFILE=${file}
      -DMACHINE=${machine} -DEXPORTS=${SOURCE_DIR}/tests/pe/exports.txt
      -DSYSTEM_DLLS=${SOURCE_DIR}/tests/pe/system-dlls.txt -DSTRIPPED=1 -DVERSION=${version}
      -P ${SOURCE_DIR}/tests/pe/pe-check.cmake
    OUTPUT_QUIET RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "package-tc: ${file} fails the checks above: not packed")
  endif()
endfunction()
check(i686 "${w32}" i386)
check(x86_64 "${w64}" x86-64)

# The zip's entries at its top level, with one date, in a fixed order.
get_filename_component(out_dir "${OUTPUT}" DIRECTORY)
set(stage "${out_dir}/Quarn-tc.stage")
file(REMOVE_RECURSE "${stage}")
file(MAKE_DIRECTORY "${stage}")
file(COPY "${SOURCE_DIR}/tools/pluginst.inf" "${w32}" "${w64}" DESTINATION "${stage}")
file(REMOVE "${OUTPUT}")
set(names pluginst.inf Quarn.wcx Quarn.wcx64)
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${OUTPUT}" --format=zip
    --mtime=2000-01-01 ${names}
  WORKING_DIRECTORY "${stage}" RESULT_VARIABLE result)
file(REMOVE_RECURSE "${stage}")
if(NOT result EQUAL 0)
  message(FATAL_ERROR "package-tc: cannot write ${OUTPUT}")
endif()

execute_process(COMMAND "${CMAKE_COMMAND}" -E tar tf "${OUTPUT}"
  OUTPUT_VARIABLE listed RESULT_VARIABLE result)
string(REGEX REPLACE "\n$" "" listed "${listed}")
string(REPLACE "\n" ";" listed "${listed}")
if(NOT result EQUAL 0 OR NOT listed STREQUAL names)
  message(FATAL_ERROR "package-tc: ${OUTPUT} holds \"${listed}\", not \"${names}\"")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E echo "${OUTPUT}")
