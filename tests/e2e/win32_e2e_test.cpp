// The conformance checks against the win32 backend under Wine: the window-system checks, with
// foreign windows of real processes (the same checks judge the simulated device), and the
// download checks through WinINet against the loopback server.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/win32/win32.h"
#include "platform/win32/win32_download.h"
#include "platform/win32/win32_platform.h"
#include "tests/conformance/download_checks.h"
#include "tests/conformance/window_system_checks.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/http_server.h"
// clang-format off
#include <wininet.h>
// clang-format on

namespace sorvel {
namespace {

using win32::FromWide, win32::P, win32::W, win32::Wide;

class Win32Environment : public conformance::Environment {
 public:
  ~Win32Environment() override { e2e::CloseProbes(); }

  Platform& Device() override { return platform_; }
  HWND StartForeignWindow(const Text& title) override {
    return Start(L"probe.exe", e2e::MakeTestFolder(), title, L"SorvelProbe");
  }
  HWND StartForeignWindowAtPathLength(const Text& title, std::size_t length) override {
    std::wstring folder = e2e::MakeTestFolder() + L"\\";
    std::size_t name = title.size() + 5;  // "\" title ".exe"
    folder += std::wstring(length - folder.size() - name, L'x');
    // The prefix lets a folder pass the path limit.
    if (!CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr)) return nullptr;
    return Start(L"probe.exe", folder, title, L"SorvelProbe");
  }
  HWND StartForeignDialogProgram(const Text& title) override {
    return Start(L"dialog_probe.exe", e2e::MakeTestFolder(), title, L"SorvelDialogProbe");
  }
  Text InstallForeignProgram(const Text& title) override {
    return FromWide(e2e::CopyBesideMe(L"probe.exe", e2e::MakeTestFolder(), Exe(title)).c_str());
  }
  void Hang(HWND window, unsigned milliseconds) override {
    PostMessageW(W(window), e2e::kProbeHang, milliseconds, 0);
    // Until the probe has taken the message it would still answer.
    Sleep(100);
  }
  void Pump(unsigned milliseconds) override { e2e::PumpFor(milliseconds); }
  std::uint64_t Now() override { return GetTickCount64(); }
  bool ReparentsWithoutTheProgram() const override { return false; }
  std::vector<HWND> Children(HWND window) override {
    std::vector<HWND> children;
    for (::HWND child = GetWindow(W(window), GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
      children.push_back(P(child));
    }
    return children;
  }
  std::vector<Text> ListItems(HWND list) override {
    std::vector<Text> items;
    for (LRESULT i = 0, count = SendMessageW(W(list), LB_GETCOUNT, 0, 0); i < count; ++i) {
      std::wstring item(static_cast<std::size_t>(SendMessageW(W(list), LB_GETTEXTLEN, i, 0)), 0);
      SendMessageW(W(list), LB_GETTEXT, i, reinterpret_cast<LPARAM>(item.data()));
      items.push_back(FromWide(item.c_str()));
    }
    return items;
  }
  bool IsChecked(HWND button) override {
    return SendMessageW(W(button), BM_GETCHECK, 0, 0) == BST_CHECKED;
  }
  HWND Foreground() override { return P(GetForegroundWindow()); }

 private:
  static std::wstring Exe(const Text& title) { return std::wstring(Wide(title)) + L".exe"; }
  HWND Start(const wchar_t* program, const std::wstring& folder, const Text& title,
             const wchar_t* className) {
    std::wstring path = e2e::CopyBesideMe(program, folder, Exe(title));
    auto process = std::make_unique<e2e::Process>(path);
    if (path.empty() || !process->Started()) return nullptr;
    processes_.push_back(std::move(process));
    programPath_ = FromWide(path.c_str());
    // Shown once its creation, children included, is done.
    return P(e2e::WaitForShown(processes_.back()->Id(), className, Wide(title), 10000));
  }

  Win32Platform platform_;
  std::vector<std::unique_ptr<e2e::Process>> processes_;
};

SORVEL_WINDOW_SYSTEM_TESTS(Win32WindowSystem, Win32Environment)

constexpr std::uint32_t kWin32 = 0x80070000u;  // HRESULT_FROM_WIN32
constexpr std::int32_t Code(std::uint32_t hresult) {
  return static_cast<std::int32_t>(hresult);
}

class Win32DownloadEnvironment : public conformance::DownloadEnvironment {
 public:
  Win32DownloadEnvironment() { EXPECT_TRUE(server_.Ok()); }
  ~Win32DownloadEnvironment() override {
    MSG quit;  // the checks' own, left for the loops outside
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
  }
  Platform& Device() override { return *platform_; }
  TestHttpServer& Server() override { return server_; }
  Text Folder() override { return Text(folder_.begin(), folder_.end()); }
  conformance::Results Expected() override {
    // Not found, another status and a short body: the URL download service's own codes.
    return {0,
            Code(0x800C0005u),
            Code(0x800C0008u),
            Code(0x800C0007u),
            Code(kWin32 | ERROR_FILE_TOO_LARGE),
            win32::kTransferTimedOut,
            win32::kTransferCancelled,
            Code(kWin32 | ERROR_INTERNET_UNRECOGNIZED_SCHEME),
            Code(kWin32 | ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR),
            conformance::kAnyFailure,
            Code(kWin32 | ERROR_INTERNET_CANNOT_CONNECT),
            Code(kWin32 | ERROR_PATH_NOT_FOUND)};
  }
  std::int32_t DownloadToFileWithin(const Text& url, const Text& path,
                                    const DownloadProgress& progress, unsigned total) override {
    return platform_->DownloadToFile(url, path, ~std::uint64_t{0}, progress, total);
  }
  std::int32_t DownloadToMemoryWithin(const Text& url, std::size_t limit, std::string* body,
                                      unsigned total) override {
    return platform_->DownloadToMemory(url, limit, body, total);
  }
  bool PreTranslatesTimers() const override { return true; }
  void EndDevice() override { platform_.reset(); }

 private:
  TestHttpServer server_;
  std::unique_ptr<Win32Platform> platform_ = std::make_unique<Win32Platform>();
  std::wstring folder_ = e2e::MakeTestFolder();
};

#define SORVEL_WIN32_CHECK(name)           \
  TEST(Win32Download, name) {              \
    Win32DownloadEnvironment environment;  \
    conformance::Check##name(environment); \
  }
SORVEL_DOWNLOAD_CHECKS(SORVEL_WIN32_CHECK)

}  // namespace
}  // namespace sorvel
