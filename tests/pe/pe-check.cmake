# Checks a built Windows plugin without running it, from what mingw-w64's
# objdump reads in its PE headers:
#   - the machine type (MACHINE: i386 or x86-64) and the DLL flag;
#   - its export names are exactly those of EXPORTS (a file, one a line), none
#     exported by ordinal only;
#   - it imports from no DLL but those of SYSTEM_DLLS (a file, one a line);
#   - with STRIPPED true, it holds no debug sections and no symbol table;
#   - it carries a version resource, which Explorer's Properties shows; with
#     VERSION given, its FileVersion is VERSION (a stale build is not packed).
# Every fault found is named on a line of its own, then the check fails.
#
#   cmake -DOBJDUMP=... -DFILE=... -DMACHINE=... -DEXPORTS=... -DSYSTEM_DLLS=...
#         -DSTRIPPED=1|0 [-DVERSION=X.Y.Z] -P pe-check.cmake
cmake_minimum_required(VERSION 3.20)

# The lines of a list file, without comments and blank lines.
function(read_list path out)
  file(STRINGS "${path}" lines)
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*" "" line "${line}")
    string(STRIP "${line}" line)
    if(NOT line STREQUAL "")
      list(APPEND names "${line}")
    endif()
  endforeach()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

if(NOT EXISTS "${OBJDUMP}")
  message(FATAL_ERROR "PE check: no objdump for this target (\"${OBJDUMP}\"); "
    "apt-get install binutils-mingw-w64-i686 binutils-mingw-w64-x86-64")
endif()
get_filename_component(name "${FILE}" NAME)
# objdump's -f (file header), -p (private headers: PE header, import and
# export tables) or -h (section headers) of FILE.
function(objdump option out)
  execute_process(COMMAND "${OBJDUMP}" ${option} "${FILE}"
    OUTPUT_VARIABLE text ERROR_VARIABLE error RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    string(STRIP "${error}" error)
    message(FATAL_ERROR "PE check: ${OBJDUMP} ${option} cannot read ${FILE}: ${error}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
objdump(-f file_header)
objdump(-p dump)
objdump(-h section_headers)

set(faults "")

string(REGEX MATCH "file format ([^\n]+)" _ "${file_header}")
if(NOT CMAKE_MATCH_1 STREQUAL "pei-${MACHINE}")
  list(APPEND faults "machine is not ${MACHINE}: file format ${CMAKE_MATCH_1}")
endif()

string(REGEX MATCH "\nCharacteristics (0x[0-9a-fA-F]+)" _ "${dump}")
set(characteristics "${CMAKE_MATCH_1}")
if(characteristics STREQUAL "")
  list(APPEND faults "no PE file header found")
else()
  math(EXPR is_dll "${characteristics} & 0x2000")
  if(is_dll EQUAL 0)
    list(APPEND faults "not a DLL: Characteristics ${characteristics} lack the DLL flag 0x2000")
  endif()
endif()

# Exports: the names listed under "[Ordinal/Name Pointer] Table", up to the
# next blank line; the count of the export address table for the ordinals.
read_list("${EXPORTS}" expected_exports)
set(exports "")
set(addresses 0)
string(FIND "${dump}" "[Ordinal/Name Pointer] Table\n" at)
if(at GREATER_EQUAL 0)
  string(SUBSTRING "${dump}" ${at} -1 table)
  string(FIND "${table}" "\n\n" end)
  string(SUBSTRING "${table}" 0 ${end} table)
  string(REGEX MATCHALL "\n\t\\[ *[0-9]+\\] [^\n]+" entries "${table}")
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE "^\n\t\\[ *[0-9]+\\] " "" entry "${entry}")
    list(APPEND exports "${entry}")
  endforeach()
  string(REGEX MATCH "\n\tExport Address Table[ \t]+([0-9a-fA-F]+)\n" _ "${dump}")
  math(EXPR addresses "0x${CMAKE_MATCH_1}")
endif()
set(missing "${expected_exports}")
set(unexpected "${exports}")
if(exports)
  list(REMOVE_ITEM missing ${exports})
endif()
if(expected_exports)
  list(REMOVE_ITEM unexpected ${expected_exports})
endif()
if(missing)
  list(JOIN missing ", " text)
  list(APPEND faults "missing exports: ${text}")
endif()
if(unexpected)
  list(JOIN unexpected ", " text)
  list(APPEND faults "unexpected exports: ${text}")
endif()
list(LENGTH exports named)
if(addresses GREATER named)
  math(EXPR unnamed "${addresses} - ${named}")
  list(APPEND faults "${unnamed} exports by ordinal only")
endif()

# Imports: every "DLL Name:" of the import tables.
read_list("${SYSTEM_DLLS}" allowed)
string(TOUPPER "${allowed}" allowed)
string(REGEX MATCHALL "\n\tDLL Name: [^\n]+" entries "${dump}")
set(imports "")
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "^\n\tDLL Name: " "" dll "${entry}")
  list(APPEND imports "${dll}")
  string(TOUPPER "${dll}" upper)
  if(NOT upper IN_LIST allowed)
    list(APPEND faults "imports from ${dll}, which is not a DLL every Windows has")
  endif()
endforeach()

# Sections, from the section headers' lines: "  N .name  size VMA ...".
string(REGEX MATCHALL "\n +[0-9]+ [^ \n]+ +[0-9a-f]+ +[0-9a-f]+" entries "${section_headers}")
set(sections "")
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "^\n +[0-9]+ ([^ ]+) .*" "\\1" section "${entry}")
  list(APPEND sections "${section}")
endforeach()
if(STRIPPED)
  set(debug "${sections}")
  list(FILTER debug INCLUDE REGEX "^\\.debug")
  if(debug)
    list(JOIN debug " " text)
    list(APPEND faults "debug sections in a build that must be stripped: ${text}")
  endif()
  if(file_header MATCHES "flags 0x[0-9a-fA-F]+:\n[^\n]*HAS_SYMS")
    list(APPEND faults "a symbol table in a build that must be stripped")
  endif()
endif()

# The version resource: type 16 (RT_VERSION) among the resource types at the
# top of the .rsrc directory, then its FileVersion string (UTF-16).
string(FIND "${dump}" "The .rsrc Resource Directory section:" at)
set(has_version_resource FALSE)
if(at GREATER_EQUAL 0)
  string(SUBSTRING "${dump}" ${at} -1 resources)
  if(resources MATCHES "\n[0-9a-f]+   Entry: ID: 0x0*10,")
    set(has_version_resource TRUE)
  endif()
endif()
if(NOT has_version_resource)
  list(APPEND faults "no version resource")
elseif(VERSION)
  file(STRINGS "${FILE}" strings ENCODING UTF-16LE REGEX "^(FileVersion|[0-9.]+)$")
  list(FIND strings FileVersion at)
  set(file_version "none")
  if(at GREATER_EQUAL 0)
    math(EXPR at "${at} + 1")
    list(LENGTH strings count)
    if(at LESS count)
      list(GET strings ${at} file_version)
    endif()
  endif()
  if(NOT file_version STREQUAL VERSION)
    list(APPEND faults "version resource says FileVersion ${file_version}, expected ${VERSION}")
  endif()
endif()

if(faults)
  foreach(fault IN LISTS faults)
    message("PE check of ${name}: ${fault}")
  endforeach()
  message(FATAL_ERROR "PE check of ${name}: failed")
endif()
list(LENGTH sections section_count)
list(JOIN imports " " imports)
message(STATUS "PE check of ${name}: ${MACHINE} DLL, ${named} exports as expected, "
  "imports ${imports}, ${section_count} sections, a version resource")
