# sorvel_delayed_library(<name> <dll> <function>...) makes <name>, to link instead of <dll>'s
# import library: a program loads <dll> when it first calls one of the functions named, not as
# it starts. MSVC delay-loads with /DELAYLOAD; mingw-w64 links an import library of delay-load
# thunks that dlltool makes from the functions named (a function missing from the list fails
# the link).
function(sorvel_delayed_library name dll)
  add_library(${name} INTERFACE)
  if(MSVC)
    target_link_libraries(${name} INTERFACE ${dll} delayimp)
    target_link_options(${name} INTERFACE /DELAYLOAD:${dll}.dll)
    return()
  endif()
  find_program(SORVEL_DLLTOOL NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-dlltool dlltool
               REQUIRED)
  set(def ${CMAKE_CURRENT_BINARY_DIR}/delayed/${dll}.def)
  set(lib ${CMAKE_CURRENT_BINARY_DIR}/delayed/lib${dll}_delayed.a)
  list(JOIN ARGN "\n" exports)
  file(CONFIGURE OUTPUT ${def} CONTENT "LIBRARY ${dll}.dll\nEXPORTS\n${exports}\n")
  add_custom_command(
    OUTPUT ${lib}
    COMMAND ${SORVEL_DLLTOOL} --input-def ${def} --dllname ${dll}.dll --output-delaylib ${lib}
    DEPENDS ${def}
    VERBATIM)
  add_custom_target(${name}_thunks DEPENDS ${lib})
  add_dependencies(${name} ${name}_thunks)
  target_link_libraries(${name} INTERFACE ${lib})
endfunction()
