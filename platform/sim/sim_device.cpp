#include "platform/sim/sim_device.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace sorvel {

namespace {

void Remove(std::vector<HWND>& list, HWND window) {
  list.erase(std::remove(list.begin(), list.end(), window), list.end());
}

Message Command(HWND window, unsigned id, unsigned code) {
  Message command;
  command.window = window;
  command.message = kWmCommand;
  command.commandId = id;
  command.notifyCode = code;
  return command;
}

}  // namespace

SimDevice::SimDevice(FileSystem& files, Config config) : files_(files), config_(std::move(config)) {
  processes_[kOwnPid] = config_.modulePath;
}

// --- Test controls ---

void SimDevice::InstallProgram(const Text& path, ProgramFactory factory) {
  programs_[path] = std::move(factory);
}

int SimDevice::StartForeignProcess(const Text& exePath) {
  int pid = nextPid_++;
  processes_[pid] = exePath;
  return pid;
}

HWND SimDevice::CreateForeignWindow(int pid, const Text& className, const Text& title,
                                    std::uint32_t style, const Rect& rect, HWND owner,
                                    std::uint32_t exStyle) {
  SimWindow window;
  window.pid = pid;
  window.className = className;
  window.text = title;
  SetFrameStyle(window, style);
  window.exStyle = exStyle;
  window.owner = owner;
  window.position = {rect.left, rect.top, rect.Width(), rect.Height()};
  HWND hwnd = NewWindow(std::move(window));
  topLevel_.insert(topLevel_.begin(), hwnd);
  BringToTop(hwnd);
  return hwnd;
}

HWND SimDevice::ReuseHandle(HWND window, int pid, const Text& title, const Rect& rect) {
  DestroyWindow(window);
  SimWindow reused;
  reused.pid = pid;
  reused.className = u"Reused";
  reused.text = title;
  reused.style = kWsVisible;
  reused.position = {rect.left, rect.top, rect.Width(), rect.Height()};
  windows_.emplace(window, std::move(reused));
  topLevel_.insert(topLevel_.begin(), window);
  return window;
}

HWND SimDevice::CreateChildWindow(HWND parent, const Text& className, const Text& text,
                                  const Placement& position, int controlId) {
  SimWindow window;
  window.pid = Get(parent)->pid;
  window.className = className;
  window.text = text;
  window.style = kWsChild | kWsVisible;
  window.parent = parent;
  window.position = position;
  window.controlId = controlId;
  HWND hwnd = NewWindow(std::move(window));
  // A new child goes below its existing siblings.
  Get(parent)->children.push_back(hwnd);
  return hwnd;
}

void SimDevice::AdvanceTime(unsigned milliseconds) {
  std::uint64_t target = now_ + milliseconds;
  for (;;) {
    RunWorkers();
    PumpMessages();
    if (quitPending_ || (!modalSinks_.empty() && modalSinks_.back()->ModalRunEnded())) break;
    std::uint64_t next = target + 1;
    for (const auto& [key, timer] : timers_) next = std::min(next, timer.due);
    if (next > target) break;
    now_ = std::max(now_, next);
  }
  now_ = std::max(now_, target);
  WakeProcesses();
  PumpMessages();
}

void SimDevice::PumpMessages() {
  for (;;) {
    if (quitPending_) return;
    if (queue_.empty() && !DeliverDueTimer()) return;
    Queued queued = queue_.front();
    queue_.pop_front();
    if (queued.message.message == kWmQuit) {
      quitPending_ = true;
      return;
    }
    Dispatch(queued);
    if (!modalSinks_.empty() && modalSinks_.back()->ModalRunEnded()) return;
  }
}

bool SimDevice::DeliverDueTimer() {
  auto due = timers_.end();
  for (auto it = timers_.begin(); it != timers_.end(); ++it) {
    if (it->second.due <= now_ && (due == timers_.end() || it->second.due < due->second.due)) {
      due = it;
    }
  }
  if (due == timers_.end()) return false;
  due->second.due = now_ + due->second.interval;
  Message message;
  message.window = due->first.first;
  message.message = kWmTimer;
  message.timerId = due->first.second;
  queue_.push_back({message});
  return true;
}

void SimDevice::Dispatch(const Queued& queued) {
  const Message& posted = queued.message;
  SimWindow* target = Get(posted.window);
  if (target == nullptr) return;
  // Pre-translation belongs to the innermost modal run, else to the target's own dialog.
  DialogSink* translator = !modalSinks_.empty() ? modalSinks_.back() : nullptr;
  if (translator == nullptr) {
    HWND top = posted.window;
    while (Get(top)->parent != nullptr) top = Get(top)->parent;
    translator = Get(top)->sink;
  }
  if (translator != nullptr && translator->PreTranslateMessage(posted)) return;
  if (posted.message == kSimClick || posted.message == kSimSelect) {
    DeliverInput(posted.window, queued);
    return;
  }
  if (target->sink != nullptr) {
    Message message = posted;
    target->sink->OnMessage(message);
  }
}

const SimWindow& SimDevice::Window(HWND window) const {
  auto it = windows_.find(window);
  if (it == windows_.end()) throw std::out_of_range("no such window");
  return it->second;
}

void SimDevice::Click(HWND control) {
  PostMessage(control, kSimClick);
}

void SimDevice::SelectListItem(HWND list, int index, bool doubleTap) {
  Queued input;
  input.message.window = list;
  input.message.message = kSimSelect;
  input.item = index;
  input.doubleTap = doubleTap;
  queue_.push_back(input);
}

void SimDevice::PostCommand(HWND window, unsigned id, unsigned code) {
  queue_.push_back({Command(window, id, code)});
}

void SimDevice::SendCommand(HWND window, unsigned id, unsigned code) {
  Deliver(Command(window, id, code));
}

void SimDevice::SendSize(HWND window, int width, int height) {
  Message size;
  size.window = window;
  size.message = kWmSize;
  size.width = width;
  size.height = height;
  Deliver(size);
}

void SimDevice::SendEndSession(HWND window, bool sessionEnds) {
  Message message;
  message.window = window;
  message.message = kWmEndSession;
  message.sessionEnds = sessionEnds;
  Deliver(message);
}

void SimDevice::RequestClose(HWND window) {
  PostMessage(window, kWmClose);
}

void SimDevice::PostTimer(HWND window, unsigned id) {
  Message timer;
  timer.window = window;
  timer.message = kWmTimer;
  timer.timerId = id;
  queue_.push_back({timer});
}

void SimDevice::DeliverInput(HWND control, const Queued& input) {
  SimWindow* c = Get(control);
  if (c == nullptr || c->parent == nullptr || !c->enabled) return;
  HWND parent = c->parent;
  unsigned id = static_cast<unsigned>(c->controlId);
  if (input.message.message == kSimSelect) {
    if (input.item < 0 || input.item >= static_cast<int>(c->items.size())) return;
    c->selection = input.item;
    Deliver(Command(parent, id, kLbnSelChange));
    if (input.doubleTap && Get(control) != nullptr) Deliver(Command(parent, id, kLbnDblClk));
    return;
  }
  Deliver(Command(parent, id, kBnClicked));
}

std::optional<ControlColors> SimDevice::PaintColors(HWND control) {
  SimWindow* c = Get(control);
  SimWindow* dialog = c == nullptr ? nullptr : Get(c->parent);
  if (dialog == nullptr || dialog->sink == nullptr) return std::nullopt;
  Message request;
  request.window = c->parent;
  request.message = c->className == u"Static" ? kWmCtlColorStatic : kWmCtlColorBtn;
  request.controlId = c->controlId;
  dialog->sink->OnMessage(request);
  return request.colors;
}

void SimDevice::SetProcessHung(int pid, bool hung) {
  if (hung) {
    hungUntil_[pid] = UINT64_MAX;
    return;
  }
  hungUntil_.erase(pid);
  std::vector<PendingReturn> pending;
  pendingReturns_.swap(pending);
  for (const PendingReturn& r : pending) {
    SimWindow* w = Get(r.window);
    if (r.pid != pid) {
      pendingReturns_.push_back(r);
    } else if (w != nullptr && w->pid == pid) {
      GiveBack(r.window, r.rect, r.style);
    }
  }
}

void SimDevice::HangProcessFor(int pid, unsigned milliseconds) {
  hungUntil_[pid] = now_ + milliseconds;
}

void SimDevice::WakeProcesses() {
  for (auto it = hungUntil_.begin(); it != hungUntil_.end();) {
    int pid = it->first;
    bool over = it->second <= now_;
    ++it;
    if (over) SetProcessHung(pid, false);
  }
}

bool SimDevice::FinishReturningWindows(unsigned milliseconds) {
  std::uint64_t end = now_ + milliseconds;
  for (;;) {
    WakeProcesses();
    if (pendingReturns_.empty()) return true;
    std::uint64_t next = UINT64_MAX;
    for (const PendingReturn& r : pendingReturns_) {
      auto hung = hungUntil_.find(r.pid);
      if (hung != hungUntil_.end()) next = std::min(next, hung->second);
    }
    if (next > end) {
      now_ = end;
      return false;
    }
    now_ = next;
  }
}

void SimDevice::Waits(HWND window) {
  SimWindow* w = Get(window);
  if (w != nullptr && Hung(w->pid)) ++blockingCallsOnHung_;
}

void SimDevice::Crash() {
  if (crashHandler_ != nullptr) crashHandler_(crashContext_);
}

// --- Windows ---

SimWindow* SimDevice::Get(HWND window) {
  auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : &it->second;
}

HWND SimDevice::NewWindow(SimWindow window) {
  HWND hwnd = reinterpret_cast<HWND>(nextHandle_);
  nextHandle_ += 4;
  windows_.emplace(hwnd, std::move(window));
  return hwnd;
}

std::vector<HWND>& SimDevice::SiblingsOf(HWND window) {
  HWND parent = Get(window)->parent;
  return parent == nullptr ? topLevel_ : Get(parent)->children;
}

void SimDevice::BringToTop(HWND window) {
  std::vector<HWND>& siblings = SiblingsOf(window);
  Remove(siblings, window);
  auto at = siblings.begin();
  // Top-most windows stay above the others.
  if (!Get(window)->Topmost()) {
    while (at != siblings.end() && Get(*at)->Topmost()) ++at;
  }
  siblings.insert(at, window);
}

HWND SimDevice::FindWindow(const char16_t* className, const Text& title) {
  if (title.empty()) return nullptr;
  for (HWND window : topLevel_) {
    const SimWindow& w = windows_.at(window);
    if (w.text == title && (className == nullptr || w.className == className)) return window;
  }
  return nullptr;
}

std::vector<HWND> SimDevice::TopLevelWindows(std::size_t limit) {
  return {topLevel_.begin(),
          topLevel_.begin() + static_cast<std::ptrdiff_t>(std::min(limit, topLevel_.size()))};
}

HWND SimDevice::GetOwner(HWND window) {
  SimWindow* w = Get(window);
  return w == nullptr ? nullptr : w->owner;
}

HWND SimDevice::GetParent(HWND window) {
  SimWindow* w = Get(window);
  return w == nullptr ? nullptr : w->parent;
}

bool SimDevice::IsWindow(HWND window) {
  return Get(window) != nullptr;
}

Text SimDevice::GetWindowText(HWND window) {
  SimWindow* w = Get(window);
  return w == nullptr ? Text() : w->text;
}

void SimDevice::SetWindowText(HWND window, const Text& text) {
  if (SimWindow* w = Get(window)) w->text = text;
}

Text SimDevice::GetClassName(HWND window) {
  SimWindow* w = Get(window);
  return w == nullptr ? Text() : w->className;
}

bool SimDevice::HasWindowTrait(HWND window, WindowTrait trait) {
  SimWindow* w = Get(window);
  if (w == nullptr) return false;
  switch (trait) {
    case WindowTrait::kVisible:
      for (SimWindow* in = w; in != nullptr; in = Get(in->parent)) {
        if ((in->style & kWsVisible) == 0) return false;
      }
      return true;
    case WindowTrait::kChild:
      return (w->style & kWsChild) != 0;
    case WindowTrait::kToolWindow:
      return (w->exStyle & kWsExToolWindow) != 0;
    case WindowTrait::kMinimized:
      return (w->style & kWsMinimize) != 0;
    case WindowTrait::kHasChildren:
      return !w->children.empty();
  }
  return false;
}

void SimDevice::SetFrameStyle(SimWindow& window, std::uint32_t style) {
  window.style = style;
  // The caption is both of its bits; the border bit alone is a thin frame without one.
  window.insets.top = (style & kWsCaption) == kWsCaption ? config_.captionHeight : 0;
}

void SimDevice::SetStyle(HWND window, std::uint32_t style) {
  Waits(window);
  if (SimWindow* w = Get(window)) SetFrameStyle(*w, style);
}

Text SimDevice::GetWindowProgramPath(HWND window) {
  SimWindow* w = Get(window);
  if (w == nullptr) return Text();
  auto it = processes_.find(w->pid);
  // As on the real platform, a path longer than its limit is not given back cut.
  if (it == processes_.end() || it->second.size() > 259) return Text();
  return it->second;
}

std::uint32_t SimDevice::GetWindowProcessId(HWND window) {
  SimWindow* w = Get(window);
  return w == nullptr ? 0 : static_cast<std::uint32_t>(w->pid);
}

bool SimDevice::IsWindowResponding(HWND window, unsigned milliseconds) {
  SimWindow* w = Get(window);
  if (w == nullptr) return false;
  if (!Hung(w->pid)) return true;
  // A program that answers before the time-out is waited for.
  std::uint64_t answers = hungUntil_[w->pid];
  if (answers - now_ < milliseconds) {
    now_ = answers;
    WakeProcesses();
    return true;
  }
  now_ += milliseconds;
  return false;
}

void SimDevice::SetParent(HWND window, HWND parent) {
  Waits(window);
  SimWindow* w = Get(window);
  if (w == nullptr || (parent != nullptr && Get(parent) == nullptr)) return;
  if (refuseParent_.count(window) != 0) return;
  Remove(SiblingsOf(window), window);
  // The position keeps its numbers, which now count in the new parent's client area.
  w->parent = parent;
  SiblingsOf(window).insert(SiblingsOf(window).begin(), window);
  if (parent == nullptr) BringToTop(window);
}

bool SimDevice::HoldWindow(HWND window, HWND holder, const Placement& placement,
                           FormerFrame* former) {
  SimWindow* w = Get(window);
  if (w == nullptr) return false;
  former->bits = w->style;
  SetParent(window, holder);
  SetStyle(window, kWsVisible);
  MoveWindow(window, placement, true);
  ShareInput(window, true);
  return GetParent(window) == holder;
}

void SimDevice::GiveBackWindow(HWND window, const Rect& rect, const FormerFrame& former,
                               bool programAnswers) {
  SimWindow* w = Get(window);
  if (w == nullptr) return;
  ShareInput(window, false);
  if (programAnswers) {
    // The style goes first: a window without a frame may not be sized beyond the screen.
    // Moved while still a child, it lands at the same numbers on the screen once detached.
    SetStyle(window, former.bits);
    MoveWindow(window, {rect.left, rect.top, rect.Width(), rect.Height()}, true);
    SetParent(window, nullptr);
    return;
  }
  returnedWithoutWaiting_.push_back(window);
  // As on the real platform, a hung program takes the change when it answers again; until then
  // the window stays where it is, and dies with its parent.
  if (Hung(w->pid)) {
    pendingReturns_.push_back({window, w->pid, rect, former.bits});
    return;
  }
  GiveBack(window, rect, former.bits);
}

void SimDevice::GiveBack(HWND window, const Rect& rect, std::uint32_t style) {
  SimWindow* w = Get(window);
  SetFrameStyle(*w, style);
  Remove(SiblingsOf(window), window);
  w->parent = nullptr;
  topLevel_.insert(topLevel_.begin(), window);
  BringToTop(window);
  w->position = {rect.left, rect.top, rect.Width(), rect.Height()};
}

void SimDevice::NotifyClientSize(HWND window, const Rect& before) {
  Rect after = GetClientRect(window);
  if (Get(window)->sink != nullptr && !(before == after)) {
    Message size;
    size.window = window;
    size.message = kWmSize;
    size.width = after.right;
    size.height = after.bottom;
    Deliver(size);
  }
}

void SimDevice::Reposition(HWND window, const Placement& placement) {
  Rect before = GetClientRect(window);
  Get(window)->position = placement;
  NotifyClientSize(window, before);
}

void SimDevice::MoveWindow(HWND window, const Placement& placement, bool repaint) {
  Waits(window);
  if (Get(window) == nullptr) return;
  Reposition(window, placement);
  if (repaint) ++Get(window)->invalidations;
}

void SimDevice::MoveTopmost(HWND window, int x, int y) {
  Waits(window);
  SimWindow* w = Get(window);
  if (w == nullptr) return;
  Placement placement = w->position;
  placement.x = x;
  placement.y = y;
  Reposition(window, placement);
  w->exStyle |= kWsExTopmost;
  BringToTop(window);
}

Rect SimDevice::GetWindowRect(HWND window) {
  SimWindow* w = Get(window);
  if (w == nullptr) return Rect();
  int x = w->position.x, y = w->position.y;
  for (SimWindow* p = Get(w->parent); p != nullptr; p = Get(p->parent)) {
    x += p->position.x + p->insets.left;
    y += p->position.y + p->insets.top;
  }
  return {x, y, x + w->position.width, y + w->position.height};
}

Rect SimDevice::GetClientRect(HWND window) {
  SimWindow* w = Get(window);
  if (w == nullptr) return Rect();
  int cx = w->position.width - w->insets.left - w->insets.right;
  int cy = w->position.height - w->insets.top - w->insets.bottom;
  return {0, 0, std::max(cx, 0), std::max(cy, 0)};
}

void SimDevice::ShowWindow(HWND window, ShowCommand command) {
  SimWindow* w = Get(window);
  if (w == nullptr) return;
  switch (command) {
    case kSwHide:
      w->style &= ~kWsVisible;
      break;
    case kSwMinimize:
      minimised_.push_back(window);
      w->style |= kWsVisible | kWsMinimize;
      if (foreground_ == window) foreground_ = nullptr;
      break;
    case kSwShow:
      w->style |= kWsVisible;
      break;
  }
}

bool SimDevice::SetForegroundWindow(HWND window) {
  SimWindow* w = Get(window);
  if (w == nullptr) return false;
  foreground_ = window;
  if (w->parent == nullptr) BringToTop(window);
  return true;
}

void SimDevice::InvalidateWindow(HWND window, bool) {
  if (SimWindow* w = Get(window)) ++w->invalidations;
}

Screen SimDevice::GetScreen() {
  // No shell bars: the work area is the whole screen.
  return {
      config_.screenWidth, config_.screenHeight, {0, 0, config_.screenWidth, config_.screenHeight}};
}

// --- Dialogs ---

HWND SimDevice::CreateDialogWindow(const DialogTemplate& dialogTemplate, HWND owner,
                                   DialogSink* sink) {
  if (dialogTemplate.menu != nullptr && failMenuBar_) return nullptr;
  SimWindow dialog;
  dialog.pid = kOwnPid;
  dialog.className = kPortableDialogClass;
  dialog.text = dialogTemplate.title;
  SetFrameStyle(dialog, dialogTemplate.style & ~kWsVisible);
  dialog.owner = owner;
  dialog.icon = dialogTemplate.icon;
  // The template gives the client size.
  int cx = PixelsX(dialogTemplate.cx), cy = PixelsY(dialogTemplate.cy);
  dialog.position = {0, 0, cx + dialog.insets.left + dialog.insets.right,
                     cy + dialog.insets.top + dialog.insets.bottom};
  if (dialogTemplate.style & kDsCenter) {
    dialog.position.x = (config_.screenWidth - dialog.position.width) / 2;
    dialog.position.y = (config_.screenHeight - dialog.position.height) / 2;
  }
  // The menu bar takes its height from the client area.
  if (dialogTemplate.menu != nullptr) dialog.insets.bottom += config_.menuBarHeight;
  HWND hwnd = NewWindow(std::move(dialog));
  topLevel_.insert(topLevel_.begin(), hwnd);
  BringToTop(hwnd);

  for (const ControlTemplate& control : dialogTemplate.controls) {
    HWND child = CreateChildWindow(
        hwnd, ControlClassName(control.kind), control.text,
        {PixelsX(control.x), PixelsY(control.y), PixelsX(control.cx), PixelsY(control.cy)},
        control.id);
    SimWindow* c = Get(child);
    c->style = kWsChild | control.style | (control.visible ? kWsVisible : 0);
    if (control.style & kWsBorder) {
      int b = config_.borderWidth;
      c->insets = {b, b, b, b};
    }
  }

  Get(hwnd)->sink = sink;
  sink->OnDialogCreated(hwnd);
  if (SimWindow* created = Get(hwnd); created != nullptr && (dialogTemplate.style & kWsVisible)) {
    created->style |= kWsVisible;
    SetForegroundWindow(hwnd);
  }
  return hwnd;
}

bool SimDevice::RunModalLoop(HWND, HWND owner, DialogSink* sink) {
  if (SimWindow* o = Get(owner)) o->enabled = false;
  modalSinks_.push_back(sink);
  bool quit = false;
  for (;;) {
    PumpMessages();
    if (sink->ModalRunEnded()) break;
    if (quitPending_) {
      // The quit message ends every modal run on the way out, as on the real platform.
      quitPending_ = modalSinks_.size() > 1;
      quit = true;
      break;
    }
    if (!workers_.empty()) {
      RunWorkers();
      continue;
    }
    if (!idle_ || !idle_(*this)) {
      stalled_ = true;
      quit = true;
      break;
    }
  }
  modalSinks_.pop_back();
  if (SimWindow* o = Get(owner)) o->enabled = true;
  return !quit;
}

void SimDevice::DestroyTree(HWND window) {
  SimWindow* w = Get(window);
  if (w == nullptr) return;
  std::vector<HWND> children = w->children;
  for (HWND child : children) DestroyTree(child);
  for (auto it = timers_.begin(); it != timers_.end();) {
    it = it->first.first == window ? timers_.erase(it) : std::next(it);
  }
  Remove(SiblingsOf(window), window);
  if (foreground_ == window) foreground_ = nullptr;
  windows_.erase(window);
}

void SimDevice::DestroyWindow(HWND window) {
  SimWindow* w = Get(window);
  if (w == nullptr) return;
  // The window hears of its destruction first; its children go afterwards, with it.
  if (w->sink != nullptr) {
    Message destroy;
    destroy.window = window;
    destroy.message = kWmDestroy;
    Deliver(destroy);
  }
  // Windows it owns are destroyed with it.
  std::vector<HWND> owned;
  for (const auto& [handle, other] : windows_) {
    if (other.owner == window) owned.push_back(handle);
  }
  for (HWND handle : owned) DestroyWindow(handle);
  DestroyTree(window);
}

HWND SimDevice::GetDlgItem(HWND dialog, int id) {
  SimWindow* d = Get(dialog);
  if (d == nullptr) return nullptr;
  for (HWND child : d->children) {
    if (Get(child)->controlId == id) return child;
  }
  return nullptr;
}

bool SimDevice::MessageBox(HWND owner, const Text& text, const Text& caption,
                           MessageBoxButtons buttons) {
  messageBoxes_.push_back({owner, text, caption, buttons});
  if (answers_.empty()) return buttons == MessageBoxButtons::kOk;
  bool answer = answers_.front();
  answers_.pop_front();
  return answer;
}

void SimDevice::CheckButton(HWND button, bool checked) {
  if (SimWindow* b = Get(button)) b->checked = checked;
}

void SimDevice::SetListItems(HWND list, const std::vector<Text>& items) {
  if (SimWindow* l = Get(list)) {
    l->items = items;
    l->selection = -1;
  }
}

int SimDevice::GetListSelection(HWND list) {
  SimWindow* l = Get(list);
  return l == nullptr ? -1 : l->selection;
}

void SimDevice::SetProgress(HWND bar, int percent) {
  if (SimWindow* b = Get(bar)) b->progressPositions.push_back(percent);
}

// --- Messages and timers ---

void SimDevice::PostMessage(HWND window, std::uint32_t message) {
  Queued queued;
  queued.message.window = window;
  queued.message.message = message;
  queue_.push_back(queued);
}

void SimDevice::Deliver(Message message) {
  SimWindow* w = Get(message.window);
  if (w != nullptr && w->sink != nullptr) w->sink->OnMessage(message);
}

void SimDevice::SetTimer(HWND window, unsigned id, unsigned milliseconds) {
  if (Get(window) == nullptr) return;
  timers_[{window, id}] = {milliseconds, now_ + milliseconds};
}

void SimDevice::KillTimer(HWND window, unsigned id) {
  timers_.erase({window, id});
}

// --- Processes ---

bool SimDevice::CreateProcess(const Text& path) {
  started_.push_back(path);
  startTimes_.push_back(now_);
  auto it = programs_.find(path);
  if (it == programs_.end()) return false;
  int pid = StartForeignProcess(path);
  it->second(*this, pid);
  return true;
}

std::optional<std::uint64_t> SimDevice::GetFileVersion(const Text& path) {
  if (auto it = versions_.find(path); it != versions_.end()) return it->second;
  FileHandle file = programVersions_.empty() ? nullptr : files_.OpenForRead(path);
  if (file == nullptr) return std::nullopt;
  std::string bytes;
  char chunk[4096];
  std::uint32_t got = 0;
  while (files_.Read(file, chunk, sizeof chunk, &got) && got > 0) bytes.append(chunk, got);
  files_.Close(file);
  auto carried = programVersions_.find(bytes);
  if (carried == programVersions_.end()) return std::nullopt;
  return carried->second;
}

namespace {
// What the simulated network's failures return: the platform's "cannot connect" and a
// generic failure.
constexpr std::int32_t kSimCannotConnect = -2146697212;
constexpr std::int32_t kSimFailed = -1;

// Only web addresses are fetched; the scheme's case does not matter.
bool IsWebAddress(const Text& url) {
  auto startsWith = [&url](const char16_t* prefix) {
    std::size_t i = 0;
    for (; prefix[i] != 0; ++i) {
      if (i >= url.size()) return false;
      char16_t c = url[i] >= u'A' && url[i] <= u'Z' ? url[i] - u'A' + u'a' : url[i];
      if (c != prefix[i]) return false;
    }
    return true;
  };
  return startsWith(u"http://") || startsWith(u"https://");
}
}  // namespace

std::int32_t SimDevice::DownloadToFile(const Text& url, const Text& path, std::uint64_t limit,
                                       const DownloadProgress& progress) {
  requested_.push_back(url);
  if (!IsWebAddress(url)) return kSimFailed;
  auto it = served_.find(url);
  if (it == served_.end()) return kSimCannotConnect;
  const SimDownload served = it->second;  // a handler run meanwhile may serve the address anew
  if (served.total > limit) return kSimFailed;
  // Closing the dialog whose modal run the transfer dispatches for ends it.
  DialogSink* run = modalSinks_.empty() ? nullptr : modalSinks_.back();
  FileHandle file = files_.CreateForWrite(path);
  if (file == nullptr) return kSimFailed;
  const std::size_t chunk = served.chunk == 0 ? served.body.size() : served.chunk;
  std::size_t received = 0;
  bool ok = true;
  while (received < served.body.size()) {
    std::size_t n = std::min(chunk, served.body.size() - received);
    if (n > limit - received ||
        !files_.Write(file, served.body.data() + received, static_cast<std::uint32_t>(n))) {
      ok = false;
      break;
    }
    received += n;
    if (progress) progress(received, served.total);
    if (duringDownload_) std::exchange(duringDownload_, nullptr)();
    // The caller's windows go on answering during the transfer.
    PumpMessages();
    if (quitPending_ || (run != nullptr && run->ModalRunEnded())) {
      ok = false;
      break;
    }
  }
  files_.Close(file);
  return ok ? served.result : kSimFailed;
}

std::int32_t SimDevice::DownloadToMemory(const Text& url, std::size_t limit, std::string* body) {
  requested_.push_back(url);
  if (!IsWebAddress(url)) return kSimFailed;
  auto it = served_.find(url);
  if (it == served_.end()) return kSimCannotConnect;
  if (it->second.result < 0) return it->second.result;
  if (it->second.body.size() > limit) return kSimFailed;
  *body = it->second.body;
  return it->second.result;
}

bool SimDevice::StartWorker(std::function<void()> work) {
  workers_.push_back(std::move(work));
  return true;
}

void SimDevice::RunWorkers() {
  while (!workers_.empty()) {
    std::function<void()> work = std::move(workers_.front());
    workers_.pop_front();
    work();
  }
}

void SimDevice::Sleep(unsigned milliseconds) {
  sleeps_.push_back({now_, milliseconds});
  now_ += milliseconds;
  WakeProcesses();
}

bool SimDevice::ClaimInstanceName(const Text& name) {
  return instanceNames_.insert(name).second;
}

bool SimDevice::InstanceNameHeld(const Text& name) {
  return instanceNames_.count(name) != 0;
}

bool SimDevice::ShellExecute(HWND owner, const Text& file, const Text& parameters) {
  shellExecutes_.push_back({owner, file + u" " + parameters});
  if (!shellExecuteOk_) return false;
  // As on the real platform, a program file starts and a path that names nothing fails;
  // anything else (an address) is taken.
  auto program = programs_.find(file);
  if (program != programs_.end()) {
    program->second(*this, StartForeignProcess(file));
    return true;
  }
  return !file.empty() && (file[0] != u'\\' || files_.Exists(file));
}

}  // namespace sorvel
