// Checks of the window-system behaviour the host's logic relies on, written once and run
// against the three backends: natively against the simulated device, under Wine against the
// win32 backend with a real foreign process, and on Xvfb against the X11 backend. Where the two
// disagree, the simulation is wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "platform/framework.h"
#include "platform/platform.h"

namespace sorvel::conformance {

class Environment {
 public:
  virtual ~Environment() = default;
  virtual Platform& Device() = 0;
  // A visible top-level window of another process, class "SorvelProbe", titled `title`, whose
  // only child is an edit control. Its program's version is 65535.0.1.1.
  virtual HWND StartForeignWindow(const Text& title) = 0;
  // The same program started from a path of exactly `length` units; null where the platform
  // cannot start a program from so long a path.
  virtual HWND StartForeignWindowAtPathLength(const Text& title, std::size_t length) = 0;
  // A program whose main window, titled `title`, owns (once the program has made it) a visible,
  // untitled dialog-class window holding an edit control and a button (in that order). Returns
  // the main window. Its program has no version.
  virtual HWND StartForeignDialogProgram(const Text& title) = 0;
  // The program file of the process started last.
  Text ForeignProgramPath() const { return programPath_; }
  // Puts the program of StartForeignWindow in place as `title` without starting it; returns
  // its path.
  virtual Text InstallForeignProgram(const Text& title) = 0;
  // The program of a StartForeignWindow window stops answering for `milliseconds` from now.
  virtual void Hang(HWND window, unsigned milliseconds) = 0;
  // Lets `milliseconds` pass with this process's messages dispatched.
  virtual void Pump(unsigned milliseconds) = 0;
  // A clock in milliseconds.
  virtual std::uint64_t Now() = 0;
  // Whether `done` holds within `milliseconds`, messages dispatched meanwhile.
  bool Eventually(const std::function<bool()>& done, unsigned milliseconds);
  // Whether the window system re-parents another program's window without that program's
  // help (X11): a window is then given back at once, hung program or not, and never dies with
  // the dialog that held it. Elsewhere (Win32) the program must answer first.
  virtual bool ReparentsWithoutTheProgram() const = 0;

  // What the user sees, read past the platform interface with the window system's own calls.
  // A window's child windows, topmost first.
  virtual std::vector<HWND> Children(HWND window) = 0;
  // The items a list shows, top to bottom.
  virtual std::vector<Text> ListItems(HWND list) = 0;
  // Whether a button shows as checked.
  virtual bool IsChecked(HWND button) = 0;
  // The window that has the activation (Win32's foreground window, X11's active window as the
  // window manager or our own dialogs set it); none when there is none.
  virtual HWND Foreground() = 0;

 protected:
  Text programPath_;  // what ForeignProgramPath gives
};

// Our own dialog of the checks, by default a button, a pane (the control kPane) and a hidden
// button; it keeps its template size and counts its timer messages.
constexpr int kPane = 2;
extern const DialogTemplate kProbeTemplate;
class ProbeDialog : public CDialog {
 public:
  explicit ProbeDialog(Platform& platform, HWND owner = nullptr,
                       const DialogTemplate& dialogTemplate = kProbeTemplate)
      : CDialog(platform, dialogTemplate, owner) {
    SetFullScreen(false);
  }
  int timerTicks = 0;
  using CDialog::CheckRadioButton;

 protected:
  bool DispatchMessageMap(Message& message) override {
    timerTicks += message.message == kWmTimer;
    return false;
  }
};

// Where the checks hold a window in the pane, and where they give it back to.
inline const Placement kInPane{0, 0, 100, 60};
inline const Rect kHome{30, 40, 190, 170};

// A probe dialog and a foreign window titled `title`, shown as `before` says, held in the pane
// at kInPane.
struct HeldWindow {
  HeldWindow(Environment& environment, const Text& title, ShowCommand before = kSwShow);
  ProbeDialog dialog;
  HWND pane;
  HWND foreign;
  std::pair<int, int> frame;  // before it was held
  FormerFrame former;
  bool held = false;
};

#define SORVEL_WINDOW_SYSTEM_CHECKS(X, ...)                             \
  X(OwnDialogFollowsItsTemplateOwnerTimersAndTopmostPlace, __VA_ARGS__) \
  X(HeldWindowLosesItsFrameAndGetsItBackAsItWas, __VA_ARGS__)           \
  X(ForeignWindowIsFoundShownAndReadWhileItsProgramHangs, __VA_ARGS__)  \
  X(ForeignProgramsPathVersionStartAndOwnedDialog, __VA_ARGS__)         \
  X(LongProgramPathIsGivenBackWholeOrNotAtAll, __VA_ARGS__)             \
  X(ListAndButtonsShowWhatTheyAreGiven, __VA_ARGS__)                    \
  X(HungProgramsWindowIsGivenBackWithoutWaitingAndOutlivesNoHolder, __VA_ARGS__)

#define SORVEL_DECLARE_CHECK(name, ...) void Check##name(Environment& environment);
SORVEL_WINDOW_SYSTEM_CHECKS(SORVEL_DECLARE_CHECK, _)
#undef SORVEL_DECLARE_CHECK

// In a test file: every check as a test of `suite`, each on an `EnvironmentType` of its own.
#define SORVEL_WINDOW_SYSTEM_TEST(name, suite, EnvironmentType) \
  TEST(suite, name) {                                           \
    EnvironmentType environment;                                \
    ::sorvel::conformance::Check##name(environment);            \
  }
#define SORVEL_WINDOW_SYSTEM_TESTS(suite, EnvironmentType) \
  SORVEL_WINDOW_SYSTEM_CHECKS(SORVEL_WINDOW_SYSTEM_TEST, suite, EnvironmentType)

}  // namespace sorvel::conformance
