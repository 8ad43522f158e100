#include "platform/dialog_template.h"

namespace sorvel {

namespace {

// The lists' order: case is ignored; white space and punctuation sort before digits,
// digits before letters, letters before other scripts; within a group by code unit. (The
// Win32 list also passes over hyphens and apostrophes at first; this does not.)
int SortKey(char16_t c) {
  if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  int group = c >= 0x80 ? 3 : (c >= u'A' && c <= u'Z') ? 2 : (c >= u'0' && c <= u'9') ? 1 : 0;
  return group << 16 | c;
}

int ListCompare(const Text& a, const Text& b) {
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    int difference = SortKey(a[i]) - SortKey(b[i]);
    if (difference != 0) return difference;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

}  // namespace

const char16_t* ControlClassName(ControlKind kind) {
  switch (kind) {
    case ControlKind::kPushButton:
    case ControlKind::kRadioButton:
      return u"Button";
    case ControlKind::kStatic:
      return u"Static";
    case ControlKind::kListBox:
      return u"ListBox";
    case ControlKind::kProgressBar:
      return u"msctls_progress32";
  }
  return u"";
}

std::size_t SortedListPlace(const std::vector<Text>& items, const Text& text) {
  // Halves its way to the place; an equal item met on the way takes the new one before it, so
  // equal items do not keep their order of insertion.
  int low = 0, high = static_cast<int>(items.size()) - 1;
  while (low <= high) {
    int middle = (low + high) / 2;
    int order = ListCompare(items[static_cast<std::size_t>(middle)], text);
    if (order == 0) return static_cast<std::size_t>(middle);
    if (order > 0) {
      high = middle - 1;
    } else {
      low = middle + 1;
    }
  }
  return static_cast<std::size_t>(low);
}

}  // namespace sorvel
