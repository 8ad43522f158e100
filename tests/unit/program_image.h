// Program files as the update checks read them, by default a program for this machine, for the
// tests to change one field at a time: a Windows program's headers and an ELF program's.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "update/program_file.h"

namespace sorvel {

// `value`'s `size` lowest bytes, little-endian.
inline std::string Le(std::uint64_t value, std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
  return bytes;
}
inline void Put(std::string& bytes, std::size_t at, std::uint64_t value, std::size_t size) {
  bytes.replace(at, size, Le(value, size));
}

constexpr std::uint16_t kOtherMachine = kOwnMachine == 0x8664 ? 0x014C : 0x8664;

// The headers of a Windows program file, then `body`.
struct Image {
  std::uint16_t machine = kOwnMachine;
  std::uint16_t characteristics = 0x0022;  // executable image, large-address aware
  std::uint16_t magic = OptionalHeaderMagic(kOwnMachine);
  std::uint32_t newHeader = 0x80;
  std::string body = std::string(3000, 'n');
};

inline std::string Program(const Image& image = {}) {
  constexpr std::uint16_t kOptionalSize = 240;
  std::string bytes(image.newHeader + 24 + kOptionalSize, '\0');
  Put(bytes, 0, 'M' | 'Z' << 8, 2);
  Put(bytes, 0x3C, image.newHeader, 4);
  Put(bytes, image.newHeader, 'P' | 'E' << 8, 4);
  Put(bytes, image.newHeader + 4, image.machine, 2);
  Put(bytes, image.newHeader + 4 + 16, kOptionalSize, 2);
  Put(bytes, image.newHeader + 4 + 18, image.characteristics, 2);
  Put(bytes, image.newHeader + 24, image.magic, 2);
  return bytes + image.body;
}

struct ElfNote {
  std::string name;  // as the note holds it, NUL included
  std::uint32_t type;
  std::string descriptor;
};

// An ELF file: the header, the program headers (PT_PHDR, PT_INTERP, PT_LOAD, PT_DYNAMIC, the
// notes' segment, as chosen), the segments' contents behind them, then `body`. By default a PIE
// program for this machine.
struct ElfImage {
  std::uint16_t machine = kOwnElfMachine;
  std::uint8_t elfClass = ElfClass(kOwnElfMachine);
  std::uint8_t data = 1;   // little-endian
  std::uint16_t type = 3;  // ET_DYN
  std::uint64_t entry = 0x1040;
  bool interpreter = true;      // PT_INTERP
  bool dynamic = true;          // PT_DYNAMIC: DT_NEEDED, DT_FLAGS_1 = flags1, DT_NULL
  std::uint64_t flags1 = 0x1;   // DF_1_NOW; 0x08000000 is DF_1_PIE
  std::vector<ElfNote> notes;   // a segment of notes when any
  std::uint32_t notesType = 4;  // PT_NOTE
  std::uint64_t alignment = 4;  // of the segments' contents, and of each note's parts
  std::int32_t segmentSizeDelta = 0;
  std::uint64_t segmentsAt = 0;  // 0: right after the header
  std::uint64_t contentAt = 0;   // 0: right after the program headers
  std::string body = std::string(3000, 'e');
};

// Where ElfProgram put what the cases damage.
struct ElfLayout {
  std::size_t segmentsAtField, countField;       // e_phoff, e_phnum
  std::size_t notesOffsetField, notesSizeField;  // the notes' p_offset, p_filesz
  std::size_t notesAt, lastNoteAt;
};

inline std::string ElfProgram(const ElfImage& image = {}, ElfLayout* layout = nullptr) {
  const bool wide = image.elfClass == 2;
  const std::size_t word = wide ? 8 : 4, headerSize = wide ? 64 : 52;
  const std::size_t segmentSize = (wide ? 56 : 32) + image.segmentSizeDelta;
  std::vector<std::pair<std::uint32_t, std::string>> segments = {{6, ""}};
  if (image.interpreter) segments.push_back({3, ""});
  segments.push_back({1, ""});
  if (image.dynamic) {
    segments.push_back({2, Le(1, word) + Le(0, word) + Le(0x6FFFFFFB, word) +
                               Le(image.flags1, word) + std::string(2 * word, '\0')});
  }
  std::size_t lastNote = 0;
  if (!image.notes.empty()) {
    std::string notes;
    // The descriptor and the next note begin at the alignment, counted from the note's start.
    auto pad = [&image](std::string& bytes) {
      bytes.resize((bytes.size() + image.alignment - 1) / image.alignment * image.alignment);
    };
    for (const ElfNote& note : image.notes) {
      lastNote = notes.size();
      std::string one =
          Le(note.name.size(), 4) + Le(note.descriptor.size(), 4) + Le(note.type, 4) + note.name;
      pad(one);
      one += note.descriptor;
      pad(one);
      notes += one;
    }
    segments.push_back({image.notesType, notes});
  }
  const std::size_t segmentsAt = image.segmentsAt != 0 ? image.segmentsAt : headerSize;
  std::string bytes(
      image.contentAt != 0 ? image.contentAt : segmentsAt + segments.size() * segmentSize, '\0');
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const std::size_t at = segmentsAt + i * segmentSize;
    Put(bytes, at, segments[i].first, 4);
    if (segments[i].second.empty()) continue;
    if (layout != nullptr) {
      *layout = {0, 0, at + word, at + 4 * word, bytes.size(), bytes.size() + lastNote};
    }
    Put(bytes, at + word, bytes.size(), word);                   // p_offset
    Put(bytes, at + 4 * word, segments[i].second.size(), word);  // p_filesz
    Put(bytes, at + (wide ? 48 : 28), image.alignment, word);    // p_align
    bytes += segments[i].second;
  }
  bytes.replace(0, 7,
                std::string("\x7F") + "ELF" + static_cast<char>(image.elfClass) +
                    static_cast<char>(image.data) + '\1');
  Put(bytes, 16, image.type, 2);
  Put(bytes, 18, image.machine, 2);
  Put(bytes, 20, 1, 4);
  Put(bytes, 24, image.entry, word);
  Put(bytes, 24 + word, segmentsAt, word);
  const std::size_t sizes = 24 + 3 * word + 4;  // e_ehsize
  Put(bytes, sizes, headerSize, 2);
  Put(bytes, sizes + 2, segmentSize, 2);
  Put(bytes, sizes + 4, segments.size(), 2);
  if (layout != nullptr) {
    layout->segmentsAtField = 24 + word;
    layout->countField = sizes + 4;
  }
  return bytes + image.body;
}

// The default image after `change`.
template <typename Change>
std::string ProgramWith(Change change) {
  Image image;
  change(image);
  return Program(image);
}
template <typename Change>
std::string ElfWith(Change change, ElfLayout* layout = nullptr) {
  ElfImage image;
  change(image);
  return ElfProgram(image, layout);
}

}  // namespace sorvel
