// The program's icon as its build embeds it (cmake: sorvel_program_icon): PNG images of a few
// sizes under the resource id that its dialog templates name. X11Platform decodes them when a
// dialog that bears the icon is created, never at start. Constant data, read on the
// user-interface thread.
#pragma once

#include <cstddef>

namespace sorvel::x11 {

struct PngImage {
  const unsigned char* data;
  std::size_t size;
};

struct ProgramIcon {
  int resourceId;
  const PngImage* images;
  std::size_t count;
};

// Defined by the source that sorvel_program_icon generates for the program.
extern const ProgramIcon kProgramIcon;

}  // namespace sorvel::x11
