#include "settings/settings.h"

#include "settings/profile.h"

namespace sorvel {

Text SettingsPath;
bool ThreePaneMode = true;
Text PickedWindowTitle;
Text PickedProgramPath;

namespace {

constexpr char16_t kSection[] = u"Setting";

constexpr const char16_t* kKeys[kSettingCount] = {
    u"FileName1",    u"FileName2",     u"PositionTop1",  u"PositionTop2",  u"FileName3",
    u"PositionTop3", u"FileFullPath1", u"FileFullPath2", u"FileFullPath3", u"PartionMode",
};

}  // namespace

const char16_t* SettingKey(int index) {
  return index >= 0 && index < kSettingCount ? kKeys[index] : nullptr;
}

namespace {

Text Read(FileSystem& fs, int index, std::uint32_t capacity) {
  const char16_t* key = SettingKey(index);
  if (key == nullptr) return Text();
  Text buffer(capacity, u'\0');
  const std::uint32_t length = ReadPrivateProfileString(fs, kSection, key, u"", buffer.data(),
                                                        capacity, SettingsPath.c_str());
  buffer.resize(length);
  return buffer;
}

}  // namespace

Text ReadSetting(FileSystem& fs, int index) {
  return Read(fs, index, kSettingCapacity);
}

Text ReadProgramPath(FileSystem& fs, int index) {
  // One unit more than a setting holds tells a path at the limit from a longer one.
  Text path = Read(fs, index, kSettingCapacity + 1);
  return path.size() < kSettingCapacity ? path : Text();
}

void WriteSetting(FileSystem& fs, const Text& value, int index) {
  const char16_t* key = SettingKey(index);
  if (key == nullptr) return;
  WritePrivateProfileString(fs, kSection, key, value.c_str(), SettingsPath.c_str());
}

Text MakeSettingsPath(const Text& exePath, char16_t separator) {
  const std::size_t dot = exePath.rfind(u'.');
  if (separator == u'/') {
    const std::size_t slash = exePath.rfind(u'/');
    const bool named = dot != Text::npos && (slash == Text::npos || dot > slash + 1);
    return (named ? exePath.substr(0, dot) : exePath) + u".ini";
  }
  if (dot == Text::npos) return Text();
  return exePath.substr(0, dot) + u".ini";
}

bool ThreePaneModeFromSetting(const Text& value) {
  return ParseDecimal(value) != 2;
}

std::int32_t OffsetFromSetting(const Text& value) {
  return ParseDecimal(value);
}

}  // namespace sorvel
