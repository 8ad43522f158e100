#include "update/program_version.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/unit/host_fixture.h"

namespace sorvel {
namespace {

struct Note {
  std::string name;  // as the note holds it, NUL included
  std::uint32_t type;
  std::string descriptor;
};

std::string Le(std::uint64_t value, std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
  return bytes;
}

// Version 1.2.3.4, the halves as the note holds them.
constexpr std::uint32_t kMs = 0x00010002, kLs = 0x00030004;
Note VersionNote() {
  return {std::string("Sorvel", 7), 1, Le(kMs, 4) + Le(kLs, 4)};
}
Note BuildId() {
  return {std::string("GNU", 4), 3, std::string(20, 'i')};
}
// 12 bytes of descriptor: where notes are padded to 8, 4 bytes of padding follow.
Note Property() {
  return {std::string("GNU", 4), 5, std::string(12, 'p')};
}

// An ELF program as the reader sees it: the header, the program headers (PT_PHDR, PT_LOAD, and
// the notes' segment), the notes behind them, then some more bytes. Fields can be changed in
// the bytes afterwards at the offsets it records.
struct ElfFile {
  bool wide = true;
  std::uint8_t data = 1;  // little-endian
  std::vector<Note> notes = {BuildId(), VersionNote()};
  std::uint64_t alignment = 4;
  std::uint32_t segmentType = 4;  // PT_NOTE
  std::size_t notesAt = 0;        // 0: right behind the program headers

  std::string bytes;
  std::size_t headersAtField = 0, countField = 0, noteSegment = 0;
  std::size_t noteOffsetField = 0, noteSizeField = 0, notesStart = 0, versionNote = 0;

  ElfFile& Build() {
    const std::size_t address = wide ? 8 : 4, headerSize = wide ? 64 : 52;
    const std::size_t segmentSize = wide ? 56 : 32;
    const std::uint32_t kinds[] = {6, 1, segmentType};
    const std::size_t headersAt = headerSize;
    std::string notesBytes;
    for (const Note& note : notes) {
      if (&note == &notes.back()) versionNote = notesBytes.size();
      // The descriptor and the next note begin at the alignment, counted from the note's start.
      std::string one =
          Le(note.name.size(), 4) + Le(note.descriptor.size(), 4) + Le(note.type, 4) + note.name;
      one.resize((one.size() + alignment - 1) / alignment * alignment, '\0');
      one += note.descriptor;
      one.resize((one.size() + alignment - 1) / alignment * alignment, '\0');
      notesBytes += one;
    }
    const std::size_t at = notesAt != 0 ? notesAt : headersAt + 3 * segmentSize;
    notesStart = at;
    versionNote += at;
    bytes.assign(at, '\0');
    bytes += notesBytes + std::string(256, 't');
    auto put = [this](std::size_t offset, std::uint64_t value, std::size_t size) {
      bytes.replace(offset, size, Le(value, size));
    };
    bytes.replace(0, 4,
                  "\x7F"
                  "ELF");
    bytes[4] = static_cast<char>(wide ? 2 : 1);
    bytes[5] = static_cast<char>(data);
    bytes[6] = 1;
    put(16, 3, 2);  // ET_DYN
    put(18, wide ? 62 : 3, 2);
    put(20, 1, 4);
    put(24, 0x1040, address);
    headersAtField = 24 + address;
    put(headersAtField, headersAt, address);
    const std::size_t sizes = 24 + 3 * address + 4;
    put(sizes, headerSize, 2);
    put(sizes + 2, segmentSize, 2);
    countField = sizes + 4;
    put(countField, 3, 2);
    for (std::size_t i = 0; i < 3; ++i) put(headersAt + i * segmentSize, kinds[i], 4);
    noteSegment = headersAt + 2 * segmentSize;
    noteOffsetField = noteSegment + (wide ? 8 : 4);
    noteSizeField = noteSegment + (wide ? 32 : 16);
    put(noteOffsetField, at, address);
    put(noteSizeField, notesBytes.size(), address);
    put(noteSegment + (wide ? 48 : 28), alignment, address);
    return *this;
  }
  std::string With(std::size_t field, std::uint64_t value, std::size_t size) const {
    std::string changed = bytes;
    changed.replace(field, size, Le(value, size));
    return changed;
  }
  std::size_t Address() const { return wide ? 8 : 4; }
};

class ProgramVersionTest : public ::testing::Test {
 protected:
  ProgramVersionTest() : root_(MakeTempFolder()), files_(root_) {}
  ~ProgramVersionTest() override { std::filesystem::remove_all(root_); }

  std::string root_;
  SimFileSystem files_;
};

TEST_F(ProgramVersionTest, TheVersionNoteIsFoundThroughTheNoteSegmentsOnly) {
  ElfFile good, narrow, alone, padded8, otherName, unterminated, otherType, shortDescriptor,
      longDescriptor, noNoteSegment, bigEndian, far, beyondReach;
  good.Build();
  narrow.wide = false;
  narrow.Build();
  alone.notes = {VersionNote()};
  alone.Build();
  padded8.notes = {Property(), VersionNote()};
  padded8.alignment = 8;
  padded8.Build();
  otherName.notes = {BuildId(), VersionNote()};
  otherName.notes.back().name = std::string("Sorvem", 7);
  otherName.Build();
  unterminated.notes = {BuildId(), VersionNote()};
  unterminated.notes.back().name = "Sorvel";
  unterminated.Build();
  otherType.notes = {BuildId(), VersionNote()};
  otherType.notes.back().type = 2;
  otherType.Build();
  shortDescriptor.notes = {BuildId(), VersionNote()};
  shortDescriptor.notes.back().descriptor.resize(4);
  shortDescriptor.Build();
  longDescriptor.notes = {BuildId(), VersionNote()};
  longDescriptor.notes.back().descriptor += "more";
  longDescriptor.Build();
  noNoteSegment.segmentType = 1;  // the same bytes, under a PT_LOAD
  noNoteSegment.Build();
  bigEndian.data = 2;
  bigEndian.Build();
  far.notesAt = kElfVersionReach - 200;
  far.Build();
  beyondReach.notesAt = kElfVersionReach + 8;
  beyondReach.Build();

  const std::uint64_t huge = ~std::uint64_t{0};
  const std::size_t a = good.Address();
  // The version note's own fields: its name's and its descriptor's sizes.
  const std::size_t nameSize = good.versionNote, descriptorSize = good.versionNote + 4;
  struct Case {
    const char* name;
    std::string bytes;
    bool found;
  };
  const Case cases[] = {
      {"64-bit program", good.bytes, true},
      {"32-bit program", narrow.bytes, true},
      {"the only note", alone.bytes, true},
      {"notes padded to 8", padded8.bytes, true},
      {"far into the file, within reach", far.bytes, true},
      {"other name", otherName.bytes, false},
      {"name without its NUL", unterminated.bytes, false},
      {"other type", otherType.bytes, false},
      {"short descriptor", shortDescriptor.bytes, false},
      {"long descriptor", longDescriptor.bytes, false},
      {"no PT_NOTE", noNoteSegment.bytes, false},
      {"big-endian", bigEndian.bytes, false},
      {"beyond reach", beyondReach.bytes, false},
      {"cut in the version note", good.bytes.substr(0, good.versionNote + 20), false},
      {"cut in the program headers", good.bytes.substr(0, 64 + 60), false},
      {"cut in the header", good.bytes.substr(0, 40), false},
      {"32-bit cut in the header", narrow.bytes.substr(0, 50), false},
      {"notes' segment past the end", good.With(good.noteOffsetField, huge - 8, a), false},
      {"notes' segment of absurd size", good.With(good.noteSizeField, huge, a), false},
      {"notes' segment shorter than its note",
       // It ends inside the version note's descriptor.
       good.With(good.noteSizeField, good.versionNote + 24 - good.notesStart, a), false},
      {"notes' segment over the headers", good.With(good.noteOffsetField, 0, a), false},
      {"program headers past the end", good.With(good.headersAtField, huge / 2, a), false},
      {"program headers over the header", good.With(good.headersAtField, 8, a), false},
      {"absurd header count", good.With(good.countField, 0xFFFF, 2), false},
      {"absurd name size", good.With(nameSize, 0xFFFFFFFF, 4), false},
      {"absurd descriptor size", good.With(descriptorSize, 0xFFFFFFF0, 4), false},
      {"web page", "<html><body>Not Found</body></html>", false},
      {"empty", "", false},
  };
  for (const Case& c : cases) {
    files_.SetBytes(u"\\sorvel", c.bytes);
    std::uint32_t ms = 0, ls = 0;
    EXPECT_EQ(ReadElfFileVersion(files_, u"\\sorvel", &ms, &ls), c.found) << c.name;
    if (c.found) {
      EXPECT_EQ(ms, kMs) << c.name;
      EXPECT_EQ(ls, kLs) << c.name;
    }
  }
  std::uint32_t ms = 0, ls = 0;
  EXPECT_FALSE(ReadElfFileVersion(files_, u"\\missing", &ms, &ls));
  EXPECT_EQ(files_.OpenFileCount(), 0u);
}

}  // namespace
}  // namespace sorvel
