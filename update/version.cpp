#include "update/version.h"

namespace sorvel {

std::optional<FileVersion> ParseFileVersion(const Text& text) {
  FileVersion version = 0;
  std::size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (at == text.size() || text[at] != u'.') return std::nullopt;
      ++at;
    }
    std::uint32_t value = 0;
    std::size_t digits = 0;
    for (; at < text.size() && text[at] >= u'0' && text[at] <= u'9'; ++at, ++digits) {
      value = value * 10 + static_cast<std::uint32_t>(text[at] - u'0');
      if (value > 0xFFFF) return std::nullopt;
    }
    if (digits == 0) return std::nullopt;
    version = (version << 16) | value;
  }
  if (at != text.size()) return std::nullopt;
  return version;
}

Text FormatFileVersion(FileVersion version) {
  Text text;
  for (int shift = 48; shift >= 0; shift -= 16) {
    if (!text.empty()) text += u'.';
    text += FormatDecimal(static_cast<std::int32_t>((version >> shift) & 0xFFFF));
  }
  return text;
}

std::optional<FileVersion> ProgramFileVersion(Platform& platform, const Text& path) {
  return platform.GetFileVersion(path);
}

}  // namespace sorvel
