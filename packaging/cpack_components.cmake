# Read by cpack for each generator: the Debian package carries the copyright file and
# changelog Debian asks for, the archives the plain licence in a folder of their own.

# Archive times are those of the last commit unless SOURCE_DATE_EPOCH says otherwise, so
# that packing the same commit again, later, gives the same bytes.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C "${CPACK_LZMA2_CHUNKS_SOURCE_DIR}" log -1 --format=%ct
                  OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE git_failed ERROR_QUIET)
  if(NOT git_failed AND commit_time MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} ${commit_time})
  endif()
endif()

# A .zip stores local times: packed in UTC, the same commit gives the same bytes in any
# time zone.
set(ENV{TZ} UTC)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_COMPONENTS_ALL tool debian)
else()
  set(CPACK_COMPONENTS_ALL tool licence)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()
