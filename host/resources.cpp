#include "host/resources.h"

namespace sorvel {

const char16_t kAppName[] = u"Sorvel";

namespace {
constexpr std::uint32_t kPaneButton = kWsTabStop | kBsNotify;
constexpr std::uint32_t kPaneDisplay = kWsBorder;
}  // namespace

const DialogTemplate& MainDialogTemplate() {
  static const DialogTemplate kTemplate{
      kIddMainDialog,
      276,
      166,
      kWsPopup | kWsVisible | kWsCaption | kWsSysMenu,
      u"Sorvel",
      u"Tahoma",
      8,
      {
          {1000, ControlKind::kPushButton, u"A", 131, 17, 13, 12, kPaneButton, true},
          {1001, ControlKind::kPushButton, u"↑", 137, 0, 9, 11, kPaneButton, false},
          {1004, ControlKind::kPushButton, u"↓", 146, 0, 9, 11, kPaneButton, false},
          {1015, ControlKind::kPushButton, u"↕", 157, 0, 9, 11, kPaneButton, false},
          {1005, ControlKind::kStatic, u"", 0, 0, 124, 38, kPaneDisplay, true},
          {1006, ControlKind::kPushButton, u"A", 145, 46, 13, 12, kPaneButton, true},
          {1007, ControlKind::kPushButton, u"↑", 145, 60, 9, 11, kPaneButton, false},
          {1010, ControlKind::kPushButton, u"↓", 145, 74, 9, 11, kPaneButton, false},
          {1016, ControlKind::kPushButton, u"↕", 157, 50, 9, 11, kPaneButton, false},
          {1011, ControlKind::kStatic, u"", 0, 47, 142, 34, kPaneDisplay, true},
          {1008, ControlKind::kPushButton, u"A", 147, 90, 13, 12, kPaneButton, true},
          {1009, ControlKind::kPushButton, u"↑", 147, 104, 9, 11, kPaneButton, false},
          {1013, ControlKind::kPushButton, u"↓", 147, 118, 9, 11, kPaneButton, false},
          {1017, ControlKind::kPushButton, u"↕", 159, 93, 9, 11, kPaneButton, false},
          {1014, ControlKind::kStatic, u"", 1, 90, 142, 34, kPaneDisplay, true},
      }};
  return kTemplate;
}

const MenuTemplate& MainMenu() {
  static const MenuTemplate kMenu{kIdrMainMenu,
                                  {
                                      {u"종료", kIdExit, {}},
                                      {u"        옵션      ",
                                       0,
                                       {
                                           {u"분할 초기화", kIdSplitReset, {}},
                                           {u"분할 선택", kIdSplitSelect, {}},
                                       }},
                                      {u"분할시작", kIdSplitStart, {}},
                                  }};
  return kMenu;
}

}  // namespace sorvel
