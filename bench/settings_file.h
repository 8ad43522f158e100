// A realistic settings file for the benchmark and the crash-safety check: the ten keys of
// section "Setting", a few comments, and the update section. Constant data: any thread.
#pragma once

#include "platform/types.h"
#include "tests/support/utf16le.h"

namespace sorvel {

inline const Text kRealisticSettings =
    u"; Sorvel\r\n"
    u"[Setting]\r\n"
    u"PartionMode=3\r\n"
    u"; pane 1\r\n"
    u"FileName1=메모\r\n"
    u"FileFullPath1=\\Program Files\\Notes\\Notes.exe\r\n"
    u"PositionTop1=-20\r\n"
    u"; pane 2\r\n"
    u"FileName2=Calendar - 2024년 5월\r\n"
    u"FileFullPath2=\\Windows\\calendar.exe\r\n"
    u"PositionTop2=0\r\n"
    u"; pane 3\r\n"
    u"FileName3=Inbox\r\n"
    u"FileFullPath3=\\Windows\\tmail.exe\r\n"
    u"PositionTop3=40\r\n"
    u"\r\n"
    u"[Download]\r\n"
    u"DownName=http://www.example.com/download/Sorvel.exe\r\n";

}  // namespace sorvel
