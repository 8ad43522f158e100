// A small foreign program for the end-to-end tests whose visible user interface is a dialog: a
// main window of class "SorvelDialogProbe" titled after its own file name, and an untitled
// dialog-class window owned by it that holds an edit control and a button.
// clang-format off
#include <windows.h>
// clang-format on

#include <string>
#include <vector>

namespace {

constexpr int kEditId = 100;
constexpr int kButtonId = 101;

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

INT_PTR CALLBACK DialogProc(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG ? TRUE : FALSE;
}

std::wstring OwnName() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name(path);
  name.erase(0, name.rfind(L'\\') + 1);
  return name.substr(0, name.rfind(L'.'));
}

// DLGTEMPLATE and DLGITEMTEMPLATE records, each item aligned to a 32-bit boundary.
class Template {
 public:
  void Word(WORD value) { words_.push_back(value); }
  void Dword(DWORD value) {
    Word(LOWORD(value));
    Word(HIWORD(value));
  }
  void String(const wchar_t* text) {
    for (; *text != 0; ++text) Word(static_cast<WORD>(*text));
    Word(0);
  }
  void Align() {
    if (words_.size() % 2 != 0) Word(0);
  }
  void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD atom,
            const wchar_t* text) {
    Align();
    Dword(style | WS_CHILD | WS_VISIBLE);
    Dword(0);
    for (short value : {x, y, cx, cy}) Word(static_cast<WORD>(value));
    Word(id);
    Word(0xFFFF);
    Word(atom);
    String(text);
    Word(0);
  }
  const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  std::vector<WORD> words_;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = MainProc;
  wc.hInstance = instance;
  wc.lpszClassName = L"SorvelDialogProbe";
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  RegisterClassW(&wc);
  HWND main =
      CreateWindowExW(0, wc.lpszClassName, OwnName().c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10,
                      10, 200, 150, nullptr, nullptr, instance, nullptr);

  Template dialog;
  dialog.Dword(WS_POPUP | WS_VISIBLE | WS_BORDER);
  dialog.Dword(0);
  dialog.Word(2);  // controls
  for (short value : {20, 40, 120, 60}) dialog.Word(static_cast<WORD>(value));
  dialog.Word(0);  // no menu
  dialog.Word(0);  // the standard dialog class
  dialog.String(L"");
  dialog.Item(WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 5, 5, 110, 14, kEditId, 0x0081, L"");
  dialog.Item(WS_TABSTOP | BS_PUSHBUTTON, 5, 25, 50, 14, kButtonId, 0x0080, L"OK");
  HWND owned = CreateDialogIndirectParamW(instance, dialog.Get(), main, DialogProc, 0);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (owned != nullptr && IsDialogMessageW(owned, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
