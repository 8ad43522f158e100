#include "updater/program_file.h"

#include <cstddef>
#include <vector>

namespace sorvel {

namespace {

constexpr std::uint32_t kChunk = 4096;
constexpr std::uint32_t kDosHeaderSize = 64;
constexpr std::uint32_t kNewHeaderOffsetAt = 0x3C;
constexpr std::uint16_t kExecutableImage = 0x0002;
constexpr std::uint16_t kDll = 0x2000;

constexpr std::uint8_t kElfClass64 = 2;
constexpr std::uint8_t kElfLittleEndian = 1;
constexpr std::uint8_t kElfCurrentVersion = 1;
constexpr std::uint16_t kElfExecutable = 2;           // ET_EXEC
constexpr std::uint16_t kElfSharedObject = 3;         // ET_DYN: a library or a PIE program
constexpr std::uint16_t kElfManyHeaders = 0xFFFF;     // PN_XNUM: the count lies elsewhere
constexpr std::uint32_t kSegmentDynamic = 2;          // PT_DYNAMIC
constexpr std::uint32_t kSegmentInterpreter = 3;      // PT_INTERP
constexpr std::uint64_t kDynamicNull = 0;             // DT_NULL
constexpr std::uint64_t kDynamicFlags1 = 0x6FFFFFFB;  // DT_FLAGS_1
constexpr std::uint64_t kPieFlag = 0x08000000;        // DF_1_PIE
// A dynamic section this long holds every entry a program has.
constexpr std::uint64_t kDynamicLimit = 64 * 1024;

// A file read from its start, in order; the file system offers no seek.
class SequentialReader {
 public:
  SequentialReader(FileSystem& files, const Text& path)
      : files_(files), file_(files.OpenForRead(path)) {}
  ~SequentialReader() {
    if (file_ != nullptr) files_.Close(file_);
  }
  SequentialReader(const SequentialReader&) = delete;
  SequentialReader& operator=(const SequentialReader&) = delete;

  bool Open() const { return file_ != nullptr; }
  // Up to `size` bytes; fewer only at the end of the file. False on a read error.
  bool Read(std::uint8_t* buffer, std::uint32_t size, std::uint32_t* got) {
    *got = 0;
    while (*got < size) {
      std::uint32_t n = 0;
      if (!files_.Read(file_, buffer + *got, size - *got, &n)) return false;
      if (n == 0) break;
      *got += n;
    }
    position_ += *got;
    return true;
  }
  bool ReadExactly(std::uint8_t* buffer, std::uint32_t size) {
    std::uint32_t got = 0;
    return Read(buffer, size, &got) && got == size;
  }
  // Reads on up to `offset`; an offset already passed is left as it is.
  bool SkipTo(std::uint64_t offset) {
    std::uint8_t scratch[kChunk];
    while (position_ < offset) {
      std::uint64_t left = offset - position_;
      if (!ReadExactly(scratch, left < kChunk ? static_cast<std::uint32_t>(left) : kChunk)) {
        return false;
      }
    }
    return true;
  }

 private:
  FileSystem& files_;
  FileHandle file_;
  std::uint64_t position_ = 0;
};

std::uint16_t Word(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t Dword(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(Word(p)) | static_cast<std::uint32_t>(Word(p + 2)) << 16;
}

std::uint64_t Qword(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(Dword(p)) | static_cast<std::uint64_t>(Dword(p + 4)) << 32;
}

// An address-sized field of an ELF file of the given class.
std::uint64_t Address(const std::uint8_t* p, bool wide) {
  return wide ? Qword(p) : Dword(p);
}

// Whether the dynamic entries, read from the segment's start, call the file a PIE program.
bool DynamicSaysPie(SequentialReader& reader, std::uint64_t offset, std::uint64_t size, bool wide) {
  const std::uint32_t entrySize = wide ? 16 : 8;
  if (size > kDynamicLimit) size = kDynamicLimit;
  std::vector<std::uint8_t> entries(static_cast<std::size_t>(size / entrySize * entrySize));
  if (!reader.SkipTo(offset) ||
      !reader.ReadExactly(entries.data(), static_cast<std::uint32_t>(entries.size()))) {
    return false;
  }
  for (std::size_t at = 0; at < entries.size(); at += entrySize) {
    const std::uint64_t tag = Address(&entries[at], wide);
    if (tag == kDynamicNull) break;
    if (tag == kDynamicFlags1) return (Address(&entries[at + entrySize / 2], wide) & kPieFlag) != 0;
  }
  return false;
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

}  // namespace

bool IsProgramForMachine(FileSystem& files, const Text& path, std::uint16_t machine) {
  SequentialReader reader(files, path);
  std::uint8_t dos[kDosHeaderSize];
  if (!reader.Open() || !reader.ReadExactly(dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') {
    return false;
  }
  const std::uint32_t newHeader = Dword(dos + kNewHeaderOffsetAt);
  if (newHeader < kDosHeaderSize || !reader.SkipTo(newHeader)) return false;

  // The signature, the COFF file header and the optional header's magic.
  std::uint8_t headers[4 + 20 + 2];
  if (!reader.ReadExactly(headers, sizeof headers)) return false;
  const std::uint8_t* coff = headers + 4;
  const std::uint16_t optionalSize = Word(coff + 16);
  const std::uint16_t characteristics = Word(coff + 18);
  return headers[0] == 'P' && headers[1] == 'E' && headers[2] == 0 && headers[3] == 0 &&
         Word(coff) == machine && (characteristics & kExecutableImage) != 0 &&
         (characteristics & kDll) == 0 && optionalSize >= 2 &&
         Word(coff + 20) == OptionalHeaderMagic(machine);
}

bool IsElfProgramForMachine(FileSystem& files, const Text& path, std::uint16_t machine) {
  SequentialReader reader(files, path);
  std::uint8_t header[64];  // an ELF64 header; an ELF32 one is its first 52 bytes
  const bool wide = ElfClass(machine) == kElfClass64;
  const std::uint32_t headerSize = wide ? 64 : 52;
  if (!reader.Open() || !reader.ReadExactly(header, headerSize) || header[0] != 0x7F ||
      header[1] != 'E' || header[2] != 'L' || header[3] != 'F' || header[4] != ElfClass(machine) ||
      header[5] != kElfLittleEndian || header[6] != kElfCurrentVersion) {
    return false;
  }
  const std::uint16_t type = Word(header + 16);
  if (Word(header + 18) != machine || Dword(header + 20) != kElfCurrentVersion ||
      (type != kElfExecutable && type != kElfSharedObject)) {
    return false;
  }
  // e_entry, e_phoff, then past e_shoff and e_flags: e_ehsize, e_phentsize, e_phnum.
  const std::uint8_t* field = header + 24;
  const std::uint32_t addressSize = wide ? 8 : 4;
  const std::uint64_t entry = Address(field, wide);
  const std::uint64_t headersAt = Address(field + addressSize, wide);
  const std::uint8_t* sizes = field + 3 * addressSize + 4;
  const std::uint16_t segmentSize = Word(sizes + 2);
  const std::uint16_t segments = Word(sizes + 4);
  if (entry == 0 || Word(sizes) != headerSize || segmentSize != (wide ? 56 : 32) || segments == 0 ||
      segments == kElfManyHeaders || headersAt < headerSize) {
    return false;
  }
  if (type == kElfExecutable) return true;

  std::vector<std::uint8_t> table(std::size_t{segments} * segmentSize);
  if (!reader.SkipTo(headersAt) ||
      !reader.ReadExactly(table.data(), static_cast<std::uint32_t>(table.size()))) {
    return false;
  }
  std::uint64_t dynamicAt = 0, dynamicSize = 0;
  for (std::size_t at = 0; at < table.size(); at += segmentSize) {
    const std::uint8_t* segment = &table[at];
    const std::uint32_t kind = Dword(segment);
    if (kind == kSegmentInterpreter) return true;
    if (kind == kSegmentDynamic) {
      // p_offset and p_filesz.
      dynamicAt = wide ? Qword(segment + 8) : Dword(segment + 4);
      dynamicSize = wide ? Qword(segment + 32) : Dword(segment + 16);
    }
  }
  // No interpreter: a static PIE program says what it is in its dynamic section.
  return dynamicSize != 0 && dynamicAt >= headersAt + table.size() &&
         DynamicSaysPie(reader, dynamicAt, dynamicSize, wide);
}

bool IsProgramForThisMachine(FileSystem& files, const Text& path, ProgramFormat format) {
  return format == ProgramFormat::kElf ? IsElfProgramForMachine(files, path, kOwnElfMachine)
                                       : IsProgramForMachine(files, path, kOwnMachine);
}

bool FileSha256(FileSystem& files, const Text& path, Sha256Digest* digest) {
  SequentialReader reader(files, path);
  if (!reader.Open()) return false;
  Sha256 hash;
  std::uint8_t chunk[kChunk];
  for (;;) {
    std::uint32_t got = 0;
    if (!reader.Read(chunk, sizeof chunk, &got)) return false;
    if (got == 0) break;
    hash.Update(chunk, got);
  }
  return hash.Finish(digest);
}

bool ParseSha256(const Text& text, Sha256Digest* digest) {
  if (text.size() != 2 * digest->size()) return false;
  for (std::size_t i = 0; i < digest->size(); ++i) {
    int high = HexDigit(text[2 * i]), low = HexDigit(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    (*digest)[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  return true;
}

}  // namespace sorvel
