# sorvel_write_trusted_keys(OUTPUT FILE...): writes OUTPUT, a C++ source whose
# TrustedUpdateKeys() returns the keys of the FILEs, in their order. Each file holds one key a
# line as 128 hex digits (X then Y); '#' starts a comment; blank lines are allowed. A malformed
# line, a missing file or no key at all stops with an error naming the file and line.
# Also a script: cmake -DOUTPUT=... -DKEY_FILES="a;b" -P trusted-keys.cmake
function(sorvel_write_trusted_keys output)
  set(key_lines "")
  set(key_count 0)
  foreach(key_file IN LISTS ARGN)
    if(NOT EXISTS "${key_file}")
      message(FATAL_ERROR "${key_file}: no such file of trusted update keys")
    endif()
    file(READ "${key_file}" rest)
    set(line_number 0)
    # Line by line without CMake's lists, which would split or join a line at ';', '[' or ']'.
    while(NOT rest STREQUAL "")
      math(EXPR line_number "${line_number} + 1")
      string(FIND "${rest}" "\n" end)
      if(end EQUAL -1)
        set(line "${rest}")
        set(rest "")
      else()
        string(SUBSTRING "${rest}" 0 ${end} line)
        math(EXPR end "${end} + 1")
        string(SUBSTRING "${rest}" ${end} -1 rest)
      endif()
      string(FIND "${line}" "#" comment)
      if(NOT comment EQUAL -1)
        string(SUBSTRING "${line}" 0 ${comment} line)
      endif()
      string(STRIP "${line}" line)
      if(line STREQUAL "")
        continue()
      endif()
      string(LENGTH "${line}" digits)
      if(NOT digits EQUAL 128 OR NOT line MATCHES "^[0-9A-Fa-f]+$")
        message(FATAL_ERROR "${key_file}:${line_number}: a trusted update key is 128 hex digits "
                            "(X then Y), not \"${line}\"")
      endif()
      string(TOLOWER "${line}" line)
      string(REGEX REPLACE "(..)" "0x\\1," bytes "${line}")
      string(APPEND key_lines "      {{${bytes}}},  // ${key_file}:${line_number}\n")
      math(EXPR key_count "${key_count} + 1")
    endwhile()
  endforeach()
  if(key_count EQUAL 0)
    message(FATAL_ERROR "no trusted update key in ${ARGN}: no update could be accepted")
  endif()
  message(STATUS "Trusted update keys: ${key_count}")

  set(source "// Made by the build from the files of trusted update keys; edit those, not this.
#include \"update/trusted_keys.h\"

namespace sorvel {

std::vector<P256PublicKey> TrustedUpdateKeys() {
  return {
${key_lines}  };
}

}  // namespace sorvel
")
  # Written only when it changes, so that a new configure rebuilds nothing.
  if(EXISTS "${output}")
    file(READ "${output}" old)
    if(old STREQUAL source)
      return()
    endif()
  endif()
  file(WRITE "${output}" "${source}")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  sorvel_write_trusted_keys("${OUTPUT}" ${KEY_FILES})
endif()
