// Damaged and hostile Exif blocks: the reading takes what it can, never
// crashes, hangs or prints.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <random>

#include "metadata_blocks/exif_block_patch.h"
#include "metadata_io_test_util.h"
#include "platform/metadata_io.h"
#include "platform/metadata_library.h"

namespace {

using test::Bytes;

void Put16(Bytes* b, uint16_t v) {
  b->push_back(uint8_t(v >> 8));
  b->push_back(uint8_t(v));
}
void Put32(Bytes* b, uint32_t v) {
  Put16(b, uint16_t(v >> 16));
  Put16(b, uint16_t(v));
}
void PutEntry(Bytes* b, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
  Put16(b, tag);
  Put16(b, type);
  Put32(b, count);
  Put32(b, value);
}

// A big-endian TIFF structure whose IFD0 (at 8) starts with Make "Acm"
// (inline) and then the entries given.
Bytes Tiff(uint16_t declaredCount, const std::vector<std::array<uint32_t, 4>>& more,
           uint32_t nextIfd) {
  Bytes b = {'M', 'M', 0, 42};
  Put32(&b, 8);
  Put16(&b, declaredCount);
  PutEntry(&b, 0x010F, 2, 4, 0x41636D00);  // "Acm\0"
  for (const auto& e : more) PutEntry(&b, uint16_t(e[0]), uint16_t(e[1]), e[2], e[3]);
  Put32(&b, nextIfd);
  return b;
}

// A JPEG file with the TIFF structure as its Exif segment.
Bytes JpegWithExif(const Bytes& tiff) {
  Bytes jpeg = test::ReadFileBytes(test::DataPath("codecs/gradient_baseline.jpg"));
  Bytes segment = {0xFF, 0xE1};
  Put16(&segment, uint16_t(2 + 6 + tiff.size()));
  for (char c : std::string("Exif\0\0", 6)) segment.push_back(uint8_t(c));
  segment.insert(segment.end(), tiff.begin(), tiff.end());
  jpeg.insert(jpeg.begin() + 2, segment.begin(), segment.end());
  return jpeg;
}

// Reads the file's items with the standard error captured; returns them
// and what was printed.
struct Reading {
  OSErr err = noErr;
  test::OwnedUserData items;
  std::string printed;
};

Reading ReadCapturingStandardError(const Bytes& file) {
  Reading r;
  r.items = test::NewList();
  std::fflush(stderr);
  std::FILE* capture = std::tmpfile();
  const int saved = dup(fileno(stderr));
  dup2(fileno(capture), fileno(stderr));
  r.err = ReadFileMetaData(ByteSpan(file), r.items.get());
  std::fflush(stderr);
  dup2(saved, fileno(stderr));
  close(saved);
  std::rewind(capture);
  for (int c; (c = std::fgetc(capture)) != EOF;) r.printed += char(c);
  std::fclose(capture);
  return r;
}

class HostileMetaData : public testing::Test {
 protected:
  void SetUp() override { InitMetaDataLibrary(); }
};

TEST_F(HostileMetaData, BrokenStructuresKeepWhatCanBeRead) {
  struct Case {
    const char* what;
    Bytes tiff;
    bool makeSurvives;
  };
  const uint32_t past = 0x7FFFFFF0;
  const Case cases[] = {
      {"a field whose data lies past the end",
       Tiff(3, {{0x0110, 2, 40, past}, {0x0112, 3, 1, 0x00060000}}, 0), true},
      {"a huge count", Tiff(3, {{0x011A, 5, 0x10000000, 30}, {0x0112, 3, 1, 0x00060000}}, 0), true},
      {"the next IFD is itself", Tiff(2, {{0x0112, 3, 1, 0x00060000}}, 8), true},
      {"the EXIF IFD is IFD0", Tiff(3, {{0x0112, 3, 1, 0x00060000}, {0x8769, 4, 1, 8}}, 0), true},
      {"the GPS IFD points past the end",
       Tiff(3, {{0x0112, 3, 1, 0x00060000}, {0x8825, 4, 1, past}}, 0), true},
      {"more entries declared than there are", Tiff(0xFFFF, {}, 0), false},
      {"IFD0 past the end", {'M', 'M', 0, 42, 0x7F, 0, 0, 0}, false},
      {"a cut header", {'M', 'M', 0}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Reading r = ReadCapturingStandardError(JpegWithExif(c.tiff));
    EXPECT_EQ(r.err, noErr);
    EXPECT_EQ(r.printed, "");
    if (c.makeSurvives) {
      EXPECT_EQ(test::TextOf(r.items.get(), test::Text("mak")), "Acm");
    }
  }
}

// Random damage to a camera file's Exif segment and cuts at many lengths.
TEST_F(HostileMetaData, DamagedCameraFilesNeverFail) {
  const Bytes original = test::ReadFileBytes(test::DataPath("exif/gps_DSCN0010.jpg"));
  const size_t exifEnd = std::min<size_t>(original.size(), 8192);
  std::mt19937 random(20260);
  for (int round = 0; round < 300; ++round) {
    Bytes damaged = original;
    for (int i = 0; i < 8; ++i) {
      damaged[4 + random() % (exifEnd - 4)] = uint8_t(random());
    }
    Reading r = ReadCapturingStandardError(damaged);
    ASSERT_EQ(r.err, noErr) << round;
    ASSERT_EQ(r.printed, "") << round;
  }
  for (size_t length = 0; length < exifEnd; length += 97) {
    Bytes cut(original.begin(), original.begin() + ptrdiff_t(length));
    Reading r = ReadCapturingStandardError(cut);
    ASSERT_EQ(r.err, noErr) << length;
  }
}

// A Fujifilm note too short to state where its IFD is: nothing is read past
// its end (the sanitizer build sees any read).
TEST_F(HostileMetaData, ShortFujifilmNotesAreNotReadPastTheirEnd) {
  for (size_t size = 8; size < 12; ++size) {
    const auto note = std::make_unique<uint8_t[]>(size);  // no slack behind it
    std::fill_n(note.get(), size, uint8_t('I'));
    std::copy_n("FUJIFILM", 8, note.get());
    EXPECT_FALSE(IsSelfContainedMakerNote({note.get(), size})) << size;
  }
}

}  // namespace
