# sorvel_program_version(<target> [<version>]) gives a program its file version: four numbers
# 0..65535, the project's version unless another is given (missing numbers are 0). On Windows the
# version resource carries it (SORVEL_VERSION for the program's .rc); elsewhere an allocated ELF
# note, so that the version can be read from the file without running it, and survives strip:
# section ".note.sorvel.version" in a PT_NOTE segment, name "Sorvel", type 1, a descriptor of two
# 32-bit words, the version's most and least significant halves as VS_FIXEDFILEINFO's
# dwFileVersionMS and dwFileVersionLS hold them.
function(sorvel_program_version target)
  if(ARGC GREATER 1)
    set(version ${ARGV1})
  else()
    set(version ${PROJECT_VERSION})
  endif()
  if(NOT version MATCHES "^[0-9]+(\\.[0-9]+)?(\\.[0-9]+)?(\\.[0-9]+)?$")
    message(FATAL_ERROR "${target}: version \"${version}\" is not up to four decimal numbers")
  endif()
  string(REPLACE "." ";" numbers ${version})
  list(LENGTH numbers count)
  while(count LESS 4)
    list(APPEND numbers 0)
    math(EXPR count "${count} + 1")
  endwhile()
  foreach(number IN LISTS numbers)
    if(number GREATER 65535)
      message(FATAL_ERROR "${target}: version \"${version}\" has a number above 65535")
    endif()
  endforeach()
  list(GET numbers 0 major)
  list(GET numbers 1 minor)
  list(GET numbers 2 patch)
  list(GET numbers 3 build)

  if(WIN32)
    target_compile_definitions(${target} PRIVATE SORVEL_VERSION=${major},${minor},${patch},${build})
    return()
  endif()
  math(EXPR high "(${major} << 16) | ${minor}" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR low "(${patch} << 16) | ${build}" OUTPUT_FORMAT HEXADECIMAL)
  set(note ${CMAKE_CURRENT_BINARY_DIR}/${target}_version_note.c)
  # Only rewritten when it changes: the program is not linked again for nothing.
  file(CONFIGURE OUTPUT ${note} @ONLY CONTENT [[
/* The file version @major@.@minor@.@patch@.@build@ as an ELF note (written by CMake). */
__asm__(".pushsection .note.sorvel.version, \"a\", %note\n"
        ".balign 4\n"
        ".long 7\n" /* the name's size, its NUL included */
        ".long 8\n" /* the descriptor's */
        ".long 1\n" /* the note's type: the file version */
        ".asciz \"Sorvel\"\n"
        ".balign 4\n"
        ".long @high@\n"
        ".long @low@\n"
        ".popsection\n");
]])
  target_sources(${target} PRIVATE ${note})
endfunction()
