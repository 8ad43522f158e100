#include "platform/x11/curl_library.h"

#include <dlfcn.h>

#include <mutex>

namespace sorvel::x11 {

namespace {

template <typename Function>
bool Take(void* handle, const char* name, Function* function, std::string* why) {
  void* symbol = dlsym(handle, name);
  if (symbol == nullptr) {
    *why = std::string(name) + " is missing";
    return false;
  }
  *function = reinterpret_cast<Function>(symbol);
  return true;
}

}  // namespace

bool LoadCurlLibrary(const char* file, CurlLibrary* library, std::string* why) {
  // Its own namespace of symbols: nothing of the program binds to it, nor it to the program.
  void* handle = dlopen(file, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* error = dlerror();
    *why = error != nullptr ? error : std::string(file) + " could not be opened";
    return false;
  }
  CurlLibrary& l = *library;
  bool complete = Take(handle, "curl_global_init", &l.globalInit, why) &&
                  Take(handle, "curl_easy_init", &l.easyInit, why) &&
                  Take(handle, "curl_easy_setopt", &l.easySetopt, why) &&
                  Take(handle, "curl_easy_getinfo", &l.easyGetinfo, why) &&
                  Take(handle, "curl_easy_cleanup", &l.easyCleanup, why) &&
                  Take(handle, "curl_slist_append", &l.slistAppend, why) &&
                  Take(handle, "curl_slist_free_all", &l.slistFreeAll, why) &&
                  Take(handle, "curl_multi_init", &l.multiInit, why) &&
                  Take(handle, "curl_multi_add_handle", &l.multiAddHandle, why) &&
                  Take(handle, "curl_multi_remove_handle", &l.multiRemoveHandle, why) &&
                  Take(handle, "curl_multi_perform", &l.multiPerform, why) &&
                  Take(handle, "curl_multi_poll", &l.multiPoll, why) &&
                  Take(handle, "curl_multi_wakeup", &l.multiWakeup, why) &&
                  Take(handle, "curl_multi_info_read", &l.multiInfoRead, why) &&
                  Take(handle, "curl_multi_cleanup", &l.multiCleanup, why);
  if (!complete) {
    *why += std::string(" in ") + file;
    *library = CurlLibrary();
    dlclose(handle);
  }
  return complete;
}

const CurlLibrary* Curl(std::string* why) {
  static std::mutex mutex;
  static CurlLibrary library;
  static bool loaded = false;
  std::lock_guard<std::mutex> lock(mutex);
  // Tried again on a later transfer: the library may have been installed meanwhile.
  if (!loaded) loaded = LoadCurlLibrary(kCurlLibraryFile, &library, why);
  return loaded ? &library : nullptr;
}

}  // namespace sorvel::x11
