# Fails when a source file includes a header of a layer above its own. Each
# layer may use the layers below it and nothing above:
#   util <- platform <- entries <- flash <- ffs <- plugin
# The readers (entries, flash, ffs) know nothing of the plugin or of the WCX
# interface. The command is a host of the exports: it sees the WCX interface,
# its own files, the plain helpers of util, the dump's format constants and
# what the core tells it of an open archive beyond the records, and the
# settings it opens archives with.
#
#   cmake -DSOURCE_DIR=<repository>/src -P check_layers.cmake
set(allowed_util util)
set(allowed_platform util platform)
set(allowed_entries util platform entries)
set(allowed_flash util platform entries flash)
set(allowed_ffs util platform entries flash ffs)
set(allowed_plugin util platform entries flash ffs plugin wcxhead.h)
set(allowed_cli cli util flash/dump_format.h plugin/inspect.h plugin/settings.h wcxhead.h)

file(GLOB_RECURSE sources "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.cpp")
set(faults 0)
foreach(source ${sources})
  file(RELATIVE_PATH relative "${SOURCE_DIR}" "${source}")
  string(REGEX REPLACE "/.*" "" layer "${relative}")
  if(NOT DEFINED allowed_${layer})
    message(SEND_ERROR "${relative}: in no known layer (add src/${layer} to check_layers.cmake)")
    math(EXPR faults "${faults} + 1")
    continue()
  endif()
  file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"")
  foreach(line ${includes})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"]*)\".*" "\\1" header "${line}")
    string(REGEX REPLACE "/.*" "" headerLayer "${header}")
    list(FIND allowed_${layer} "${header}" exact)
    list(FIND allowed_${layer} "${headerLayer}" byLayer)
    if(exact EQUAL -1 AND (byLayer EQUAL -1 OR NOT header MATCHES "/"))
      message(SEND_ERROR "${relative} includes \"${header}\": not allowed in src/${layer}")
      math(EXPR faults "${faults} + 1")
    endif()
  endforeach()
endforeach()
if(faults GREATER 0)
  message(FATAL_ERROR "${faults} include(s) point upward or sideways")
endif()
list(LENGTH sources count)
message(STATUS "layers: ${count} files, every include points down")
