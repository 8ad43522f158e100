#include "settings/profile.h"

#include <algorithm>
#include <new>
#include <string>

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
#error "The store loads UTF-16LE files straight into char16_t units."
#endif

namespace sorvel {
namespace {

constexpr char16_t kSourceUnit[] = u".\\profile";
constexpr char16_t kTempSuffix[] = u".tmp";
constexpr char16_t kLineEnd[] = u"\r\n";

constexpr char16_t kCannotOpenFile[] = u"Could not open INI file: %s\r\n";
constexpr char16_t kCannotOpenOutput[] = u"Could not open output file: %s \r\n";
constexpr char16_t kNoInformation[] = u"GetFileInformationByHandle failed on INI file: %s\r\n";
constexpr char16_t kInRom[] = u"WritePrivateProfileString: Unable to write to %s - in ROM\r\n";
constexpr char16_t kPathTooLong[] = u"INI file path too long: %s\r\n";
constexpr char16_t kCannotWriteOutput[] = u"Could not write output file: %s \r\n";
constexpr char16_t kCannotReplace[] = u"Could not replace INI file: %s\r\n";

// Two texts on the debug output: where (this unit and the line of the report), then what.
void Report(FileSystem& fs, int line, const char16_t* message, const Text& argument) {
  fs.DebugOutput(u"ERROR: " + Text(kSourceUnit) + u" line " + FormatDecimal(line) + u": ");
  Text text = message;
  std::size_t at = text.find(u"%s");
  if (at != Text::npos) text.replace(at, 2, argument);
  fs.DebugOutput(text);
}

#define PROFILE_REPORT(fs, message, argument) Report((fs), __LINE__, (message), (argument))

std::size_t Length(const char16_t* s) {
  return std::char_traits<char16_t>::length(s);
}

// Space, tab, vertical tab, form feed, CR, LF and the other Unicode white space characters;
// fixed here so that every build classifies a file the same way.
bool IsWhiteSpace(char16_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

// Simple case folding of ASCII, Latin-1, basic Greek and Cyrillic and the full-width Latin
// letters; other characters compare as they are.
char16_t FoldCase(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 0x20) : c;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2) ||
      (c >= 0x410 && c <= 0x42F) || (c >= 0xFF21 && c <= 0xFF3A)) {
    return static_cast<char16_t>(c + 0x20);
  }
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 0x50);
  return c;
}

bool EqualIgnoringCase(const char16_t* a, const char16_t* b, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

// A name without a separator lies in the folder "windows" at the root. Paths longer than
// `maxLength` are refused.
bool ResolvePath(const FileSystem& fs, const char16_t* file, std::size_t maxLength,
                 char16_t (&path)[kProfilePathCapacity]) {
  Text resolved = file;
  const char16_t separator = fs.Separator();
  if (resolved.find(separator) == Text::npos) {
    resolved = separator + (u"windows" + (separator + resolved));
  }
  if (resolved.size() > maxLength) return false;
  std::copy(resolved.begin(), resolved.end(), path);
  path[resolved.size()] = 0;
  return true;
}

void ReleaseText(ProfileFile& profile) {
  profile.text.reset();
  profile.textLength = 0;
  profile.position = 0;
}

// Makes the first `length` units of `profile.text` the text to scan, without a leading
// byte-order mark; true when it had one.
bool TakeText(ProfileFile& profile, std::uint32_t length) {
  char16_t* text = profile.text.get();
  const bool marked = length > 0 && text[0] == u'\xFEFF';
  if (marked) {
    std::copy(text + 1, text + length, text);
    --length;
  }
  profile.textLength = length;
  text[length] = 0;
  if (length == 0) profile.text.reset();
  profile.position = 0;
  return marked;
}

// Loads the whole file. A leading byte-order mark is skipped, and appended to `output` when a
// write is copying the file. `information` receives the platform's file information.
bool LoadProfileFile(FileSystem& fs, ProfileFile& profile, Text* output,
                     FileInformation* information) {
  FileHandle input = fs.OpenForRead(profile.path);
  if (input == nullptr) return false;
  FileInformation info;
  if (!fs.GetInformation(input, &info)) {
    fs.Close(input);
    PROFILE_REPORT(fs, kNoInformation, Text(profile.path));
    return false;
  }
  if (information != nullptr) *information = info;

  // The whole file is read at once; a leading byte-order mark is then skipped in memory.
  std::uint64_t size = info.sizeLow;
  size += size & 1;
  if (size == 0) {
    fs.Close(input);
    return true;
  }
  profile.text.reset(new (std::nothrow) char16_t[size / 2 + 1]);
  if (!profile.text) {
    fs.Close(input);
    return false;
  }
  // A file that is shorter than its information said is taken as far as it goes; a final odd
  // byte is ignored.
  std::uint64_t total = 0;
  char* bytes = reinterpret_cast<char*>(profile.text.get());
  while (total < size) {
    std::uint32_t got = 0;
    const auto chunk = static_cast<std::uint32_t>(std::min<std::uint64_t>(size - total, 1u << 30));
    if (!fs.Read(input, bytes + total, chunk, &got)) {
      fs.Close(input);
      ReleaseText(profile);
      return false;
    }
    if (got == 0) break;
    total += got;
  }
  fs.Close(input);

  if (TakeText(profile, static_cast<std::uint32_t>(total / 2)) && output != nullptr) {
    output->push_back(u'\xFEFF');
  }
  return true;
}

// Hands out the next line in `profile.line`; false when the text has no more lines.
bool NextProfileLine(ProfileFile& profile) {
  const char16_t* text = profile.text.get();
  if (text == nullptr) return false;
  const std::uint32_t length = profile.textLength;
  const std::uint32_t begin = profile.position;
  std::uint32_t end = begin;
  while (end < length && text[end] != u'\r' && text[end] != u'\n') ++end;
  std::uint32_t next = end;
  if (next < length && text[next] == u'\r') ++next;
  if (next < length && text[next] == u'\n') ++next;
  if (next == begin) return false;

  std::uint32_t start = begin;
  while (start < end && IsWhiteSpace(text[start])) ++start;
  profile.line = start < end ? ProfileLine{text + start, end - start} : ProfileLine{};
  profile.position = next;
  return true;
}

bool IsComment(const ProfileLine& line) {
  return line.length > 0 && line.start[0] == u';';
}

bool IsHeader(const ProfileLine& line) {
  return line.length > 0 && line.start[0] == u'[';
}

// The last character is not examined: "[Setting]" and "[Setting " both name "Setting".
bool IsHeaderOf(const ProfileLine& line, const char16_t* section, std::size_t sectionLength) {
  return IsHeader(line) && line.length == sectionLength + 2 &&
         EqualIgnoringCase(line.start + 1, section, sectionLength);
}

// The index of the first "=" of a key line; 0 for any other line. Lines begin after their
// leading white space, so a line has a key before its "=" exactly when the "=" is not first.
std::uint32_t KeyLineEquals(const ProfileLine& line) {
  if (IsComment(line) || IsHeader(line)) return 0;
  for (std::uint32_t i = 0; i < line.length; ++i) {
    if (line.start[i] == u'=') return i;
  }
  return 0;
}

// A key line matches when it begins with the key; what follows the key is not examined.
bool MatchesKey(const ProfileLine& line, const char16_t* key, std::size_t keyLength) {
  return KeyLineEquals(line) > 0 && line.length >= keyLength &&
         EqualIgnoringCase(line.start, key, keyLength);
}

// The value of a key line: after its first "=", trailing white space removed.
ProfileLine ValueOf(const ProfileLine& line) {
  std::uint32_t begin = KeyLineEquals(line) + 1;
  std::uint32_t end = line.length;
  while (end > begin && IsWhiteSpace(line.start[end - 1])) --end;
  return ProfileLine{line.start + begin, end - begin};
}

// Copies at most capacity - 1 units and a zero unit; returns the units copied.
std::uint32_t CopyCut(const char16_t* source, std::size_t length, char16_t* buffer,
                      std::uint32_t capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  const std::uint32_t count =
      static_cast<std::uint32_t>(std::min<std::size_t>(length, capacity - 1));
  std::copy(source, source + count, buffer);
  buffer[count] = 0;
  return count;
}

// Ends a write without touching the file.
void DiscardOutput(FileSystem& fs, ProfileFile& profile) {
  fs.Close(profile.output);
  profile.output = nullptr;
  fs.Remove(profile.tempPath);
  ReleaseText(profile);
}

// Writes the new content to the temporary file, makes it durable and renames it over the file.
bool CommitOutput(FileSystem& fs, ProfileFile& profile, const Text& content) {
  ReleaseText(profile);
  constexpr std::size_t kChunkUnits = std::size_t{1} << 28;
  bool written = true;
  for (std::size_t at = 0; written && at < content.size(); at += kChunkUnits) {
    const std::size_t units = std::min(kChunkUnits, content.size() - at);
    written = fs.Write(profile.output, content.data() + at,
                       static_cast<std::uint32_t>(units * sizeof(char16_t)));
  }
  written = written && fs.Flush(profile.output);
  fs.Close(profile.output);
  profile.output = nullptr;
  if (!written) {
    fs.Remove(profile.tempPath);
    PROFILE_REPORT(fs, kCannotWriteOutput, Text(profile.tempPath));
    return false;
  }
  if (!fs.ReplaceWith(profile.tempPath, profile.path)) {
    fs.Remove(profile.tempPath);
    PROFILE_REPORT(fs, kCannotReplace, Text(profile.path));
    return false;
  }
  return true;
}

// The lookup of FindProfileString in a loaded text.
std::uint32_t FindInText(ProfileFile& profile, const char16_t* section, const char16_t* key,
                         char16_t* buffer, std::uint32_t capacity) {
  const std::size_t sectionLength = Length(section);
  const std::size_t keyLength = Length(key);
  bool found = false;
  while (!found && NextProfileLine(profile)) {
    found = IsHeaderOf(profile.line, section, sectionLength);
  }
  if (!found) return 0;
  while (NextProfileLine(profile)) {
    if (IsHeader(profile.line)) return 0;
    if (MatchesKey(profile.line, key, keyLength)) {
      const ProfileLine value = ValueOf(profile.line);
      return CopyCut(value.start, value.length, buffer, capacity);
    }
  }
  return 0;
}

}  // namespace

std::uint32_t FindProfileString(FileSystem& fs, const char16_t* section, const char16_t* key,
                                char16_t* buffer, std::uint32_t capacity, const char16_t* file) {
  if (section == nullptr || key == nullptr || file == nullptr) return 0;
  ProfileFile profile;
  if (!ResolvePath(fs, file, kProfileMaxPathLength, profile.path)) {
    PROFILE_REPORT(fs, kPathTooLong, Text(file));
    PROFILE_REPORT(fs, kCannotOpenFile, Text(file));
    return 0;
  }
  if (!LoadProfileFile(fs, profile, nullptr, nullptr)) {
    PROFILE_REPORT(fs, kCannotOpenFile, Text(file));
    ReleaseText(profile);
    return 0;
  }
  return FindInText(profile, section, key, buffer, capacity);
}

std::uint32_t FindProfileStringInText(const Text& text, const char16_t* section,
                                      const char16_t* key, char16_t* buffer,
                                      std::uint32_t capacity) {
  if (section == nullptr || key == nullptr || text.empty()) return 0;
  ProfileFile profile;
  profile.text.reset(new (std::nothrow) char16_t[text.size() + 1]);
  if (!profile.text) return 0;
  std::copy(text.begin(), text.end(), profile.text.get());
  TakeText(profile, static_cast<std::uint32_t>(text.size()));
  return FindInText(profile, section, key, buffer, capacity);
}

std::uint32_t ReadPrivateProfileString(FileSystem& fs, const char16_t* section, const char16_t* key,
                                       const char16_t* defaultValue, char16_t* buffer,
                                       std::uint32_t capacity, const char16_t* file) {
  const std::uint32_t found = FindProfileString(fs, section, key, buffer, capacity, file);
  if (found > 0) return found;
  if (defaultValue == nullptr) defaultValue = u"";
  return CopyCut(defaultValue, Length(defaultValue), buffer, capacity);
}

int WritePrivateProfileString(FileSystem& fs, const char16_t* section, const char16_t* key,
                              const char16_t* value, const char16_t* file) {
  if (file == nullptr) return 0;
  if (section == nullptr) return 1;
  if (key == nullptr || value == nullptr) return 0;

  ProfileFile profile;
  if (!ResolvePath(fs, file, kProfileMaxWrittenPathLength, profile.path)) {
    PROFILE_REPORT(fs, kPathTooLong, Text(file));
    return 0;
  }
  const Text tempPath = Text(profile.path) + kTempSuffix;
  std::copy(tempPath.begin(), tempPath.end(), profile.tempPath);
  profile.output = fs.CreateForWrite(profile.tempPath);
  if (profile.output == nullptr) {
    PROFILE_REPORT(fs, kCannotOpenOutput, tempPath);
    return 0;
  }

  Text output;
  FileInformation info;
  if (!LoadProfileFile(fs, profile, &output, &info)) {
    // Only a file that is not there may be created anew; one that could not be read is kept.
    if (fs.Exists(profile.path)) {
      PROFILE_REPORT(fs, kCannotOpenFile, Text(file));
      DiscardOutput(fs, profile);
      return 0;
    }
    ReleaseText(profile);
    info = FileInformation();
  }
  if (info.unwritable) {
    PROFILE_REPORT(fs, kInRom, Text(file));
    DiscardOutput(fs, profile);
    return 0;
  }

  const std::size_t sectionLength = Length(section);
  const std::size_t keyLength = Length(key);
  output.reserve(output.size() + profile.textLength + keyLength + Length(value) + 16);
  auto copyLine = [&output](const ProfileLine& line) {
    output.append(line.start, line.length);
    output += kLineEnd;
  };
  auto writeEntry = [&] {
    output += key;
    output += u'=';
    output += value;
    output += kLineEnd;
  };

  // Only the first header of the section and the first matching key line in it count; later
  // ones are copied as they are.
  bool written = false;
  bool inSection = false;
  while (NextProfileLine(profile)) {
    const ProfileLine& line = profile.line;
    if (inSection) {
      if (!IsHeader(line)) {
        if (!written && MatchesKey(line, key, keyLength)) {
          writeEntry();
          written = true;
        } else {
          copyLine(line);
        }
        continue;
      }
      if (!written) {
        writeEntry();
        written = true;
      }
      inSection = false;
    }
    copyLine(line);
    if (!written && IsHeaderOf(line, section, sectionLength)) inSection = true;
  }
  if (inSection && !written) {
    writeEntry();
    written = true;
  }
  if (!written) {
    output += u'[';
    output += section;
    output += u']';
    output += kLineEnd;
    writeEntry();
  }
  return CommitOutput(fs, profile, output) ? 1 : 0;
}

}  // namespace sorvel
