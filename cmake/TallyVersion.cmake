# The program's one version, decided when the build is configured:
#
#   TALLY_VERSION          what a site reads: "4.25f" for a build of the commit tagged v4.25f,
#                          "4.25f+12.g1a2b3c4" for the 12th commit after it (or, before the
#                          release is tagged, the commit's number in the history), "4.25f" alone
#                          for a source tree without git.
#   TALLY_RELEASE          the release in VERSION: one hexadecimal digit each for the major
#                          version, the minor version and the revision, then the release letter,
#                          as the About box shows it ("TallyDesk 4.25f (32 bit)").
#   TALLY_VERSION_BUILD    the commits after the release's tag (the fourth number of a Windows
#                          file version), 0 without git.
#
# -DTALLY_VERSION=... sets the version text outright (a packager's build from an unpacked tarball),
# the release still coming from VERSION. The values reach the code through the generated header
# tally_version.h (include folder TALLY_GENERATED_DIR), which is rewritten only when they change.
file(STRINGS ${CMAKE_SOURCE_DIR}/VERSION TALLY_RELEASE LIMIT_COUNT 1)
string(STRIP "${TALLY_RELEASE}" TALLY_RELEASE)
if(NOT TALLY_RELEASE MATCHES "^([0-9A-F])\\.([0-9A-F])([0-9A-F])([a-z])$")
  message(FATAL_ERROR "VERSION: '${TALLY_RELEASE}' is not a release such as 4.25f (major, minor "
                      "and revision one hexadecimal digit each, then a lower-case letter)")
endif()
set(TALLY_VERSION_MAJOR ${CMAKE_MATCH_1})
set(TALLY_VERSION_MINOR ${CMAKE_MATCH_2})
set(TALLY_VERSION_REVISION ${CMAKE_MATCH_3})
set(TALLY_VERSION_LETTER ${CMAKE_MATCH_4})
foreach(part MAJOR MINOR REVISION)
  math(EXPR TALLY_VERSION_${part} "0x${TALLY_VERSION_${part}}")
endforeach()

set(TALLY_VERSION_BUILD 0)
set(described "")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS ${CMAKE_SOURCE_DIR}/.git)
  # Commits since the release's tag; before the release is tagged, the commit's place in the
  # history, so that a later commit always has the larger number.
  execute_process(COMMAND ${GIT_EXECUTABLE} describe --tags --long --abbrev=7
                          --match "v${TALLY_RELEASE}"
                  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} OUTPUT_VARIABLE described
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE status)
  if(status EQUAL 0 AND described MATCHES "-([0-9]+)-g([0-9a-f]+)$")
    set(TALLY_VERSION_BUILD ${CMAKE_MATCH_1})
    set(commit ${CMAKE_MATCH_2})
  else()
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-list --count HEAD
                    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} OUTPUT_VARIABLE count
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE status)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --short=7 HEAD
                    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} OUTPUT_VARIABLE commit
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(status EQUAL 0 AND count MATCHES "^[0-9]+$" AND commit MATCHES "^[0-9a-f]+$")
      set(TALLY_VERSION_BUILD ${count})
      set(described "untagged")
    else()
      set(described "")
    endif()
  endif()
endif()

if(DEFINED TALLY_VERSION AND NOT TALLY_VERSION STREQUAL "")
  set(TALLY_VERSION_SOURCE "given with -DTALLY_VERSION")
elseif(described STREQUAL "")
  set(TALLY_VERSION ${TALLY_RELEASE})
  set(TALLY_VERSION_SOURCE "VERSION, no git")
elseif(TALLY_VERSION_BUILD EQUAL 0 AND NOT described STREQUAL "untagged")
  set(TALLY_VERSION ${TALLY_RELEASE})
  set(TALLY_VERSION_SOURCE "tag v${TALLY_RELEASE}")
else()
  set(TALLY_VERSION "${TALLY_RELEASE}+${TALLY_VERSION_BUILD}.g${commit}")
  set(TALLY_VERSION_SOURCE "git")
endif()
# The text goes into C strings, resource strings and package file names as it is.
if(NOT TALLY_VERSION MATCHES "^[0-9A-Za-z.+~]+$")
  message(FATAL_ERROR "TALLY_VERSION '${TALLY_VERSION}' may hold only letters, digits, '.', '+' "
                      "and '~'")
endif()
# A Windows file version's numbers are 16 bits each.
if(TALLY_VERSION_BUILD GREATER 65535)
  set(TALLY_VERSION_BUILD 65535)
endif()
message(STATUS "TallyDesk version ${TALLY_VERSION} (${TALLY_VERSION_SOURCE})")

set(TALLY_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_SOURCE_DIR}/cmake/tally_version.h.in ${TALLY_GENERATED_DIR}/tally_version.h
               @ONLY)
