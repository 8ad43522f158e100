#include "host/resources.h"

namespace sorvel {

const char16_t kAppName[] = u"Sorvel";
const char16_t kWebSiteHost[] = u"www.sorvel.example";
const char16_t kVendorPhone[] = u"000-0000-0000";

namespace {
constexpr std::uint32_t kPaneButton = kWsTabStop | kBsNotify;
constexpr std::uint32_t kPaneDisplay = kWsBorder;

const MenuTemplate kMainMenu{{
    {u"종료", kIdExit, {}},
    {u"        옵션      ",
     0,
     {
         {u"분할 초기화", kIdSplitReset, {}},
         {u"분할 선택", kIdSplitSelect, {}},
     }},
    {u"분할시작", kIdSplitStart, {}},
}};
}  // namespace

const DialogTemplate& MainDialogTemplate() {
  static const DialogTemplate kTemplate{
      kIdiMainIcon,
      276,
      166,
      kWsPopup | kWsVisible | kWsCaption | kWsSysMenu,
      u"Sorvel",
      u"Tahoma",
      8,
      {
          {kIdButtonA1, ControlKind::kPushButton, u"A", 131, 17, 13, 12, kPaneButton, true},
          {kIdUp1, ControlKind::kPushButton, u"↑", 137, 0, 9, 11, kPaneButton, false},
          {kIdDown1, ControlKind::kPushButton, u"↓", 146, 0, 9, 11, kPaneButton, false},
          {kIdToggle1, ControlKind::kPushButton, u"↕", 157, 0, 9, 11, kPaneButton, false},
          {kIdDisplay1, ControlKind::kStatic, u"", 0, 0, 124, 38, kPaneDisplay, true},
          {kIdButtonA2, ControlKind::kPushButton, u"A", 145, 46, 13, 12, kPaneButton, true},
          {kIdUp2, ControlKind::kPushButton, u"↑", 145, 60, 9, 11, kPaneButton, false},
          {kIdDown2, ControlKind::kPushButton, u"↓", 145, 74, 9, 11, kPaneButton, false},
          {kIdToggle2, ControlKind::kPushButton, u"↕", 157, 50, 9, 11, kPaneButton, false},
          {kIdDisplay2, ControlKind::kStatic, u"", 0, 47, 142, 34, kPaneDisplay, true},
          {kIdButtonA3, ControlKind::kPushButton, u"A", 147, 90, 13, 12, kPaneButton, true},
          {kIdUp3, ControlKind::kPushButton, u"↑", 147, 104, 9, 11, kPaneButton, false},
          {kIdDown3, ControlKind::kPushButton, u"↓", 147, 118, 9, 11, kPaneButton, false},
          {kIdToggle3, ControlKind::kPushButton, u"↕", 159, 93, 9, 11, kPaneButton, false},
          {kIdDisplay3, ControlKind::kStatic, u"", 1, 90, 142, 34, kPaneDisplay, true},
      },
      &kMainMenu};
  return kTemplate;
}

const DialogTemplate& FindDialogTemplate() {
  static const DialogTemplate kTemplate{
      0,
      152,
      145,
      kWsPopup | kWsVisible | kWsCaption,
      u"Dialog",
      u"Tahoma",
      12,
      {
          {kIdPickerList, ControlKind::kListBox, u"", 7, 7, 138, 104,
           kLbsNotify | kLbsNoIntegralHeight | kWsVScroll | kWsBorder | kWsTabStop, true},
          {kIdPickerClose, ControlKind::kPushButton, u"닫기", 106, 117, 39, 15, kWsTabStop, true},
          {kIdPickerApply, ControlKind::kPushButton, u"적용", 62, 119, 39, 15, kWsTabStop, false},
      }};
  return kTemplate;
}

const DialogTemplate& VersionDialogTemplate() {
  static const Text kDownloadLine = Text(u"다운로드: ") + kWebSiteHost;
  static const Text kPhoneLine = Text(u"대표번호 :") + kVendorPhone;
  static const DialogTemplate kTemplate{
      0,
      131,
      66,
      kWsPopup | kWsVisible | kWsBorder | kDsCenter,
      u"",
      u"Tahoma",
      10,
      {
          {kIdVersionOk, ControlKind::kPushButton, u"", 104, 3, 27, 11, kWsTabStop, true},
          {kIdVersionLine, ControlKind::kStatic, u"", 2, 4, 98, 10, 0, true},
          {kIdDownloadLine, ControlKind::kStatic, kDownloadLine.c_str(), 2, 20, 98, 10, kSsNotify,
           true},
          {kIdPhoneLine, ControlKind::kStatic, kPhoneLine.c_str(), 2, 36, 98, 10, 0, true},
          {kIdThreeWay, ControlKind::kRadioButton, u"3 분할", 3, 51, 41, 13, kWsGroup | kWsTabStop,
           true},
          {kIdTwoWay, ControlKind::kRadioButton, u"2 분할", 49, 51, 41, 13, 0, true},
      }};
  return kTemplate;
}

}  // namespace sorvel
