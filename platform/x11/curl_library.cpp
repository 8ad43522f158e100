#include "platform/x11/curl_library.h"

#include <mutex>

#include "platform/posix/shared_library.h"

namespace sorvel::x11 {

bool LoadCurlLibrary(const char* file, CurlLibrary* library, std::string* why) {
  void* handle = OpenSharedLibrary(file, why);
  if (handle == nullptr) return false;
  auto take = [&](const char* name, auto* function) {
    return TakeFunction(handle, name, function, why);
  };
  CurlLibrary& l = *library;
  bool complete =
      take("curl_global_init", &l.globalInit) && take("curl_easy_init", &l.easyInit) &&
      take("curl_easy_setopt", &l.easySetopt) && take("curl_easy_getinfo", &l.easyGetinfo) &&
      take("curl_easy_cleanup", &l.easyCleanup) && take("curl_slist_append", &l.slistAppend) &&
      take("curl_slist_free_all", &l.slistFreeAll) && take("curl_multi_init", &l.multiInit) &&
      take("curl_multi_add_handle", &l.multiAddHandle) &&
      take("curl_multi_remove_handle", &l.multiRemoveHandle) &&
      take("curl_multi_perform", &l.multiPerform) && take("curl_multi_poll", &l.multiPoll) &&
      take("curl_multi_wakeup", &l.multiWakeup) && take("curl_multi_info_read", &l.multiInfoRead) &&
      take("curl_multi_cleanup", &l.multiCleanup);
  if (!complete) {
    *why += std::string(" in ") + file;
    *library = CurlLibrary();
    CloseSharedLibrary(handle);
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
