#include "updater/resources.h"

namespace sorvel {

const char16_t kUpdaterName[] = u"SorvelUpdate";

const DialogTemplate& UpdateDialogTemplate() {
  static const DialogTemplate kTemplate{
      kIdiUpdateIcon,
      101,
      26,
      kWsPopup | kWsVisible | kWsCaption | kDsCenter,
      u"Auto Downloader",
      u"System",
      8,
      {
          {kIdFileDownload, ControlKind::kPushButton, u"File Download ", 7, 7, 87, 10, kWsTabStop,
           false},
          {kIdProgress, ControlKind::kProgressBar, u"", 7, 7, 87, 8, kWsBorder, true},
          {kIdCreateFile, ControlKind::kPushButton, u"파일생성", 7, 7, 35, 6, kWsTabStop, false},
      }};
  return kTemplate;
}

}  // namespace sorvel
