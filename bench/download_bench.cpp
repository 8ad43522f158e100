// One download of the same file by the platform's own transfer and by URLDownloadToFileW, side
// by side: throughput and the number of progress reports of each. Prints figures; fails only
// when a download fails or does not deliver the file whole.
//
//   download_bench URL DESTINATION      (scripts/lib/download-bench runs it)
#include <cstdio>
#include <cwchar>
#include <functional>

#include "platform/win32/win32.h"
#include "platform/win32/win32_platform.h"
// clang-format off
#include <urlmon.h>
#include <wininet.h>
// clang-format on

namespace {

using sorvel::Text;

// Counts OnProgress and asks for nothing else.
class CountingCallback : public IBindStatusCallback {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IBindStatusCallback) {
      *object = this;
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG, ULONG, ULONG, LPCWSTR) override {
    ++calls;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }

  int calls = 0;
};

double Seconds(const std::function<long()>& run, long* result) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  *result = run();
  QueryPerformanceCounter(&end);
  return static_cast<double>(end.QuadPart - start.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

long long SizeOf(const wchar_t* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return -1;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Prints "NAME MiB/s calls" and deletes the file; false when the download failed.
bool Report(const char* name, long result, double seconds, int calls, const wchar_t* path) {
  long long size = SizeOf(path);
  DeleteFileW(path);
  if (result < 0 || size <= 0) {
    std::printf("%s: failed (result 0x%08lx, %lld bytes)\n", name,
                static_cast<unsigned long>(result), size);
    return false;
  }
  std::printf("%s %.1f MiB/s %d progress calls (%lld bytes in %.3f s)\n", name,
              static_cast<double>(size) / (1024.0 * 1024.0) / seconds, calls, size, seconds);
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: download_bench URL DESTINATION\n");
    return 2;
  }
  const wchar_t* url = argv[1];
  const wchar_t* path = argv[2];
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  bool ok = true;

  // The library's transfer may keep a copy in the cache; neither run may read one.
  DeleteUrlCacheEntryW(url);
  CountingCallback callback;
  long result = 0;
  double seconds = Seconds(
      [&] { return static_cast<long>(URLDownloadToFileW(nullptr, url, path, 0, &callback)); },
      &result);
  DeleteUrlCacheEntryW(url);
  ok &= Report("URLDownloadToFileW", result, seconds, callback.calls, path);

  sorvel::Win32Platform platform;
  int calls = 0;
  seconds = Seconds(
      [&] {
        return static_cast<long>(platform.DownloadToFile(
            Text(reinterpret_cast<const char16_t*>(url)),
            Text(reinterpret_cast<const char16_t*>(path)), ~std::uint64_t{0},
            [&](std::uint64_t, std::uint64_t) { ++calls; }));
      },
      &result);
  ok &= Report("DownloadToFile", result, seconds, calls, path);

  CoUninitialize();
  return ok ? 0 : 1;
}
