#include "platform/posix/shared_library.h"

#include <dlfcn.h>

namespace sorvel {

void* OpenSharedLibrary(const char* file, std::string* why) {
  void* library = dlopen(file, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* error = dlerror();
    *why = error != nullptr ? error : std::string(file) + " could not be opened";
  }
  return library;
}

void* SharedLibrarySymbol(void* library, const char* name, std::string* why) {
  void* symbol = dlsym(library, name);
  if (symbol == nullptr) *why = std::string(name) + " is missing";
  return symbol;
}

void CloseSharedLibrary(void* library) {
  dlclose(library);
}

}  // namespace sorvel
