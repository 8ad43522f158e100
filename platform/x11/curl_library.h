// libcurl, loaded when the first transfer runs rather than with the program: the programs start
// without it and its libraries (TLS, HTTP/2, name resolution), which cost a noticeable part of a
// start and are needed only seconds later on a worker thread. The headers give the types and
// constants; the functions come from the library found at run time.
#pragma once

#include <curl/curl.h>

#include <string>

namespace sorvel::x11 {

// The shared library the transfers load: the soname of the libcurl the build compiled against.
constexpr char kCurlLibraryFile[] = "libcurl.so.4";

// The libcurl functions the transfers call.
struct CurlLibrary {
  decltype(&curl_global_init) globalInit = nullptr;
  decltype(&curl_easy_init) easyInit = nullptr;
  decltype(&curl_easy_setopt) easySetopt = nullptr;
  decltype(&curl_easy_getinfo) easyGetinfo = nullptr;
  decltype(&curl_easy_cleanup) easyCleanup = nullptr;
  decltype(&curl_slist_append) slistAppend = nullptr;
  decltype(&curl_slist_free_all) slistFreeAll = nullptr;
  decltype(&curl_multi_init) multiInit = nullptr;
  decltype(&curl_multi_add_handle) multiAddHandle = nullptr;
  decltype(&curl_multi_remove_handle) multiRemoveHandle = nullptr;
  decltype(&curl_multi_perform) multiPerform = nullptr;
  decltype(&curl_multi_poll) multiPoll = nullptr;
  decltype(&curl_multi_wakeup) multiWakeup = nullptr;
  decltype(&curl_multi_info_read) multiInfoRead = nullptr;
  decltype(&curl_multi_cleanup) multiCleanup = nullptr;
};

// Opens the shared library `file` and takes every function above from it. False, with `why`
// naming what failed, when it cannot be opened or lacks one of them; the library stays open
// for the life of the process once it is used.
bool LoadCurlLibrary(const char* file, CurlLibrary* library, std::string* why);

// libcurl loaded and initialised for the process, on the first call that succeeds; null, with
// `why`, while it cannot be. Any thread may call it.
const CurlLibrary* Curl(std::string* why);

}  // namespace sorvel::x11
