#include "update/program_version.h"

#include <cstring>
#include <vector>

namespace sorvel {

namespace {

constexpr std::uint8_t kElfClass32 = 1;
constexpr std::uint8_t kElfClass64 = 2;
constexpr std::uint8_t kElfLittleEndian = 1;
constexpr std::uint8_t kElfCurrentVersion = 1;
constexpr std::uint32_t kSegmentNote = 4;  // PT_NOTE
constexpr char kNoteName[] = "Sorvel";     // with its NUL, as the note holds it
constexpr std::uint32_t kVersionNote = 1;
constexpr std::uint32_t kNoteHeaderSize = 12;  // namesz, descsz, type

// Bytes read from the start of a file; every access is checked against what was read.
class FileStart {
 public:
  bool Read(FileSystem& files, const Text& path) {
    FileHandle file = files.OpenForRead(path);
    if (file == nullptr) return false;
    bytes_.resize(kElfVersionReach);
    std::uint32_t got = 0;
    bool ok = true;
    while (got < kElfVersionReach) {
      std::uint32_t n = 0;
      if (!files.Read(file, bytes_.data() + got, kElfVersionReach - got, &n)) {
        ok = false;
        break;
      }
      if (n == 0) break;
      got += n;
    }
    files.Close(file);
    bytes_.resize(got);
    return ok;
  }

  // Whether `size` bytes at `at` were read.
  bool Has(std::uint64_t at, std::uint64_t size) const {
    return at <= bytes_.size() && size <= bytes_.size() - at;
  }
  const std::uint8_t* At(std::uint64_t at) const { return bytes_.data() + at; }
  std::uint32_t Dword(std::uint64_t at) const {
    const std::uint8_t* p = At(at);
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
  }
  std::uint16_t Word(std::uint64_t at) const {
    return static_cast<std::uint16_t>(At(at)[0] | At(at)[1] << 8);
  }
  // An address-sized field.
  std::uint64_t Address(std::uint64_t at, bool wide) const {
    return wide ? Dword(at) | static_cast<std::uint64_t>(Dword(at + 4)) << 32 : Dword(at);
  }

 private:
  std::vector<std::uint8_t> bytes_;
};

std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

// The version note among the notes of one segment, which lies wholly in `start`. A note is its
// header, its name and its descriptor; the descriptor and the next note begin at the segment's
// alignment, counted from the note's start.
bool FindVersionNote(const FileStart& start, std::uint64_t at, std::uint64_t size,
                     std::uint64_t alignment, std::uint32_t* mostSignificant,
                     std::uint32_t* leastSignificant) {
  const std::uint64_t end = at + size;
  // The last note's padding may lie past the segment's end.
  while (at <= end && end - at >= kNoteHeaderSize) {
    const std::uint64_t nameSize = start.Dword(at), descriptorSize = start.Dword(at + 4);
    const std::uint32_t type = start.Dword(at + 8);
    const std::uint64_t name = at + kNoteHeaderSize;
    const std::uint64_t descriptor = at + AlignUp(kNoteHeaderSize + nameSize, alignment);
    if (descriptor > end || descriptorSize > end - descriptor) return false;
    if (type == kVersionNote && nameSize == sizeof kNoteName &&
        std::memcmp(start.At(name), kNoteName, sizeof kNoteName) == 0 && descriptorSize == 8) {
      *mostSignificant = start.Dword(descriptor);
      *leastSignificant = start.Dword(descriptor + 4);
      return true;
    }
    at += AlignUp(descriptor - at + descriptorSize, alignment);
  }
  return false;
}

}  // namespace

bool ReadElfFileVersion(FileSystem& files, const Text& path, std::uint32_t* mostSignificant,
                        std::uint32_t* leastSignificant) {
  FileStart start;
  if (!start.Read(files, path) || !start.Has(0, 52)) return false;
  const std::uint8_t* ident = start.At(0);
  if (ident[0] != 0x7F || ident[1] != 'E' || ident[2] != 'L' || ident[3] != 'F' ||
      (ident[4] != kElfClass32 && ident[4] != kElfClass64) || ident[5] != kElfLittleEndian ||
      ident[6] != kElfCurrentVersion) {
    return false;
  }
  const bool wide = ident[4] == kElfClass64;
  if (wide && !start.Has(0, 64)) return false;
  // e_phoff, then past e_shoff and e_flags: e_ehsize, e_phentsize, e_phnum.
  const std::uint64_t addressSize = wide ? 8 : 4;
  const std::uint64_t headersAt = start.Address(24 + addressSize, wide);
  const std::uint64_t sizes = 24 + 3 * addressSize + 4;
  const std::uint16_t headerSize = start.Word(sizes + 2);
  const std::uint16_t headerCount = start.Word(sizes + 4);
  if (headerSize < (wide ? 56 : 32) ||
      !start.Has(headersAt, std::uint64_t{headerCount} * headerSize)) {
    return false;
  }

  // p_offset, p_filesz and p_align of each PT_NOTE segment (offsets differ by class).
  const std::uint64_t offsetAt = wide ? 8 : 4, sizeAt = wide ? 32 : 16, alignAt = wide ? 48 : 28;
  for (std::uint64_t i = 0; i < headerCount; ++i) {
    const std::uint64_t header = headersAt + i * headerSize;
    if (start.Dword(header) != kSegmentNote) continue;
    const std::uint64_t at = start.Address(header + offsetAt, wide);
    const std::uint64_t size = start.Address(header + sizeAt, wide);
    const std::uint64_t alignment = start.Address(header + alignAt, wide) == 8 ? 8 : 4;
    if (start.Has(at, size) &&
        FindVersionNote(start, at, size, alignment, mostSignificant, leastSignificant)) {
      return true;
    }
  }
  return false;
}

}  // namespace sorvel
