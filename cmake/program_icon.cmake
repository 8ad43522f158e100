# sorvel_program_icon(<target> <resource id> <image>...) gives a native program the icon that its
# dialog templates name by <resource id>: PNG images of a few sizes, embedded whole at build time
# (the assembler's .incbin) as platform/x11/program_icon.h declares them. An image may be the
# output of a custom command of the target's directory.
function(sorvel_program_icon target resource)
  if(ARGC LESS 3)
    message(FATAL_ERROR "${target}: an icon needs at least one image")
  endif()
  set(incbins "")
  set(symbols "")
  set(images "")
  set(index 0)
  foreach(image IN LISTS ARGN)
    if(NOT IS_ABSOLUTE ${image})
      set(image ${CMAKE_CURRENT_SOURCE_DIR}/${image})
    endif()
    set(name sorvel_icon_${index})
    string(APPEND incbins "        \"${name}: .incbin \\\"${image}\\\"\\n${name}_end:\\n\"\n")
    string(APPEND symbols "extern \"C\" const unsigned char ${name}[], ${name}_end[];\n")
    string(APPEND images "    {${name}, static_cast<std::size_t>(${name}_end - ${name})},\n")
    list(APPEND files ${image})
    math(EXPR index "${index} + 1")
  endforeach()
  set(source ${CMAKE_CURRENT_BINARY_DIR}/${target}_icon.cpp)
  # Only rewritten when it changes: the program is not linked again for nothing.
  file(CONFIGURE OUTPUT ${source} @ONLY CONTENT [[
// The program's icon, resource @resource@, its images embedded whole (written by CMake).
#include <cstddef>

#include "platform/x11/program_icon.h"

__asm__(".pushsection .rodata\n"
@incbins@        ".popsection\n");

@symbols@
namespace {
const sorvel::x11::PngImage kImages[] = {
@images@};
}  // namespace

const sorvel::x11::ProgramIcon sorvel::x11::kProgramIcon = {@resource@, kImages,
                                                            sizeof kImages / sizeof kImages[0]};
]])
  # The images as sources too, so that those a custom command makes are made first.
  target_sources(${target} PRIVATE ${source} ${files})
  set_source_files_properties(${source} PROPERTIES OBJECT_DEPENDS "${files}")
endfunction()
