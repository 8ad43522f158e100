#include "updater/program_file.h"

#include <cstddef>

namespace sorvel {

namespace {

constexpr std::uint32_t kChunk = 4096;
constexpr std::uint32_t kDosHeaderSize = 64;
constexpr std::uint32_t kNewHeaderOffsetAt = 0x3C;
constexpr std::uint16_t kExecutableImage = 0x0002;
constexpr std::uint16_t kDll = 0x2000;

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
  *digest = hash.Finish();
  return true;
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
