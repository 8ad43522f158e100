// A shared library opened when a program first needs it rather than with the program, for
// what it needs only seconds after its start (transfers, signature checks). The headers give
// the types and constants; the functions come from the library found at run time. Any thread
// may call these; nothing blocks but the file system.
#pragma once

#include <string>

namespace sorvel {

// Opens the shared library `file` in a namespace of its own (nothing of the program binds to
// it, nor it to the program); null, with `why`, when it cannot be opened.
void* OpenSharedLibrary(const char* file, std::string* why);

// The address of `name` in the library; null, with `why`, when it lacks it.
void* SharedLibrarySymbol(void* library, const char* name, std::string* why);

void CloseSharedLibrary(void* library);

// Takes the function `name` from the library into `function`; false, with `why`, when the
// library lacks it.
template <typename Function>
bool TakeFunction(void* library, const char* name, Function* function, std::string* why) {
  void* symbol = SharedLibrarySymbol(library, name, why);
  if (symbol == nullptr) return false;
  *function = reinterpret_cast<Function>(symbol);
  return true;
}

}  // namespace sorvel
