// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/text_line_reader.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "tests/support/temp_dir.h"

namespace voxtar::text {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::Utf16LeBytes;
using testing::WriteBytes;

constexpr char kBom[] = "\xFF\xFE";

// One ReadLine as the callers see it: the result, the line, and AtEnd right after.
struct Line {
  int result;
  std::u16string text;
  bool atEnd;
  bool operator==(const Line&) const = default;
};

void PrintTo(const Line& line, std::ostream* out) {
  *out << "{" << line.result << ", " << line.text.size() << " units, atEnd " << line.atEnd << "}";
}

Line Read(TextLineReader& reader, std::size_t size = 1023) {
  const std::optional<std::u16string_view> line = reader.ReadLine(size);
  return {line ? 1 : 0, line ? std::u16string(*line) : u"<nothing>", reader.AtEnd()};
}

class TextLineReaderTest : public ::testing::Test {
 protected:
  TempDir dir;

  // Writes the file and opens a reader on it.
  std::u16string File(std::string_view bytes, std::string_view name = "lesson.idx") {
    WriteBytes(dir / name, bytes);
    return dir.wide(true) + platform::FromUtf8(name);
  }
};

TEST_F(TextLineReaderTest, Utf16LeLinesAndEndWithFinalLineFeed) {
  TextLineReader reader;
  reader.Open(File(std::string(kBom) + Utf16LeBytes(u"a\r\nb\r\n")));
  ASSERT_EQ(reader.status(), ReaderStatus::Opened);
  EXPECT_EQ(reader.mode(), ReaderMode::Utf16Le);
  EXPECT_FALSE(reader.AtEnd());
  EXPECT_EQ(Read(reader), (Line{1, u"a", false}));
  EXPECT_EQ(Read(reader), (Line{1, u"b", false}));
  EXPECT_EQ(Read(reader), (Line{1, u"", true}));
  EXPECT_EQ(Read(reader), (Line{0, u"<nothing>", true}));
}

TEST_F(TextLineReaderTest, Utf16LeLastLineWithoutLineFeedSetsAtEnd) {
  TextLineReader reader;
  reader.Open(File(std::string(kBom) + Utf16LeBytes(u"a\r\nb")));
  EXPECT_EQ(Read(reader), (Line{1, u"a", false}));
  EXPECT_EQ(Read(reader), (Line{1, u"b", true}));
  EXPECT_EQ(Read(reader), (Line{0, u"<nothing>", true}));
}

TEST_F(TextLineReaderTest, EightBitLinesAndEndBehaveTheSame) {
  TextLineReader reader;
  reader.Open(File("a\r\nb\r\n"));
  EXPECT_EQ(reader.mode(), ReaderMode::EightBit);
  EXPECT_EQ(Read(reader), (Line{1, u"a", false}));
  EXPECT_EQ(Read(reader), (Line{1, u"b", false}));
  EXPECT_EQ(Read(reader), (Line{1, u"", true}));
  EXPECT_EQ(Read(reader), (Line{0, u"<nothing>", true}));

  TextLineReader unterminated;
  unterminated.Open(File("a\nb", "other.idx"));
  EXPECT_EQ(Read(unterminated), (Line{1, u"a", false}));
  EXPECT_EQ(Read(unterminated), (Line{1, u"b", true}));
}

TEST_F(TextLineReaderTest, EightBitIsWindows1251Throughout) {
  TextLineReader reader;
  reader.Open(
      File("\xC0\xE1\xE2\xB8\r\n\xA8\xDF\xFF\xBF\xB9 \x7F\x01\n"
           "\x96\x97\x93\x94\x85\xAB\xBB\x98\x80\xA0\n"));
  EXPECT_EQ(reader.mode(), ReaderMode::EightBit);
  EXPECT_EQ(Read(reader).text, u"Абвё");
  EXPECT_EQ(Read(reader).text, u"ЁЯяї№ \u007F\u0001");
  // Typeset punctuation; 98 has no meaning and stays as it is.
  EXPECT_EQ(Read(reader).text, u"–—“”…«»\u0098Ђ\u00A0");
}

TEST_F(TextLineReaderTest, Utf16LeUnitsPassUnchangedAndCrEndsTheText) {
  TextLineReader reader;
  // A line feed byte (0A) inside a unit, or split across two units, ends no line.
  reader.Open(File(std::string(kBom) +
                   Utf16LeBytes(u"Жa\rb\U0001F3A4\n\u0A0A\u0D0A\u0A41\u4100\U0001F3A4\n")));
  EXPECT_EQ(Read(reader, 16), (Line{1, u"Жa", false}));
  EXPECT_EQ(Read(reader, 16), (Line{1, u"\u0A0A\u0D0A\u0A41\u4100\U0001F3A4", false}));
  EXPECT_EQ(Read(reader, 16), (Line{1, u"", true}));
}

TEST_F(TextLineReaderTest, EightBitOverlongLineComesBackInPieces) {
  const std::string line(300, 'x');
  TextLineReader reader;
  reader.Open(File(line + "\r\nnext\r\n"));
  EXPECT_EQ(Read(reader, 255), (Line{1, std::u16string(254, u'x'), false}));
  EXPECT_EQ(reader.lineNumber(), 1);
  EXPECT_EQ(Read(reader, 255), (Line{1, std::u16string(46, u'x'), false}));
  EXPECT_EQ(reader.lineNumber(), 1);  // the rest of the same file line
  EXPECT_EQ(Read(reader, 255), (Line{1, u"next", false}));
  EXPECT_EQ(reader.lineNumber(), 2);
}

TEST_F(TextLineReaderTest, EightBitReadsAtMost1023BytesWhateverTheSize) {
  const std::string line(1500, 'y');
  TextLineReader reader;
  reader.Open(File(line + "\n"));
  EXPECT_EQ(Read(reader, 2000).text.size(), 1023u);
  EXPECT_EQ(Read(reader, 1023).text.size(), 477u);
}

TEST_F(TextLineReaderTest, Utf16LeOverlongLineIsCutNotSplit) {
  TextLineReader reader;
  reader.Open(File(std::string(kBom) + Utf16LeBytes(std::u16string(300, u'ж') + u"\r\nnext\r\n")));
  EXPECT_EQ(Read(reader, 255), (Line{1, std::u16string(254, u'ж'), false}));
  EXPECT_EQ(Read(reader, 255), (Line{1, u"next", false}));
  EXPECT_EQ(reader.lineNumber(), 2);
  EXPECT_EQ(Read(reader, 255), (Line{1, u"", true}));
}

TEST_F(TextLineReaderTest, EightBitZeroByteEndsTheCharactersOfItsLine) {
  TextLineReader reader;
  reader.Open(File(std::string("ab\0cd\r\nxy\r\n", 11)));
  EXPECT_EQ(Read(reader), (Line{1, u"ab", false}));
  EXPECT_EQ(Read(reader), (Line{1, u"xy", false}));
}

TEST_F(TextLineReaderTest, EmptyFileGivesOneEmptyLine) {
  TextLineReader reader;
  reader.Open(File(""));
  EXPECT_EQ(reader.status(), ReaderStatus::Opened);
  EXPECT_EQ(reader.mode(), ReaderMode::EightBit);
  EXPECT_FALSE(reader.AtEnd());
  EXPECT_EQ(Read(reader), (Line{1, u"", true}));
  EXPECT_EQ(Read(reader), (Line{0, u"<nothing>", true}));
}

TEST_F(TextLineReaderTest, ShortFilesAndOddBytes) {
  TextLineReader bomOnly;
  bomOnly.Open(File(kBom, "bom.idx"));
  EXPECT_EQ(bomOnly.mode(), ReaderMode::Utf16Le);
  EXPECT_FALSE(bomOnly.AtEnd());
  EXPECT_EQ(Read(bomOnly), (Line{1, u"", true}));

  // A single byte is 8-bit text: nothing is lost to the two-byte probe.
  TextLineReader oneByte;
  oneByte.Open(File("\xC0", "one.idx"));
  EXPECT_EQ(oneByte.mode(), ReaderMode::EightBit);
  EXPECT_FALSE(oneByte.AtEnd());
  EXPECT_EQ(Read(oneByte), (Line{1, u"А", true}));

  // The odd trailing byte of a UTF-16LE file is dropped.
  TextLineReader odd;
  odd.Open(File(std::string(kBom) + Utf16LeBytes(u"a\r\nb") + "c", "odd.idx"));
  EXPECT_EQ(Read(odd), (Line{1, u"a", false}));
  EXPECT_EQ(Read(odd), (Line{1, u"b", true}));
}

TEST_F(TextLineReaderTest, Utf8IsReadWithOrWithoutByteOrderMark) {
  TextLineReader marked;
  marked.Open(
      File("\xEF\xBB\xBF"
           "a.wav \xD0\x81\xD0\xB6 \xE2\x80\x94 ok\r\nb\n",
           "marked.idx"));
  EXPECT_EQ(marked.mode(), ReaderMode::Utf8);
  EXPECT_EQ(Read(marked), (Line{1, u"a.wav Ёж — ok", false}));
  EXPECT_EQ(Read(marked), (Line{1, u"b", false}));
  EXPECT_EQ(Read(marked), (Line{1, u"", true}));

  TextLineReader unmarked;
  unmarked.Open(File("\xD0\xBC\xD0\xB8\xD1\x80 \xF0\x9F\x8E\xA4\n", "unmarked.idx"));
  EXPECT_EQ(unmarked.mode(), ReaderMode::Utf8);
  EXPECT_EQ(Read(unmarked).text, u"мир \U0001F3A4");

  // With the mark the file is UTF-8 even where it is not well formed.
  TextLineReader broken;
  broken.Open(File("\xEF\xBB\xBFx\xC0y\n", "broken.idx"));
  EXPECT_EQ(Read(broken).text, u"x\uFFFDy");

  // Pure ASCII, and Windows-1251 Russian text, are no UTF-8: read as before.
  TextLineReader ascii;
  ascii.Open(File("plain\n", "ascii.idx"));
  EXPECT_EQ(ascii.mode(), ReaderMode::EightBit);
  TextLineReader russian;
  russian.Open(File("a.wav \xCC\xE8\xF0 \xE8 \xEC\xE8\xF0\r\n", "ru.idx"));
  EXPECT_EQ(russian.mode(), ReaderMode::EightBit);
  EXPECT_EQ(Read(russian).text, u"a.wav Мир и мир");
}

TEST_F(TextLineReaderTest, Utf8OverlongLineComesBackInPiecesWithoutSplittingACharacter) {
  // 3 units of room: "ab" and then the pair of the emoji would need 4.
  TextLineReader reader;
  reader.Open(File("ab\xF0\x9F\x8E\xA4\xD0\xB6\nz\n"));
  EXPECT_EQ(Read(reader, 4), (Line{1, u"ab", false}));
  EXPECT_EQ(Read(reader, 4), (Line{1, u"\U0001F3A4ж", false}));
  EXPECT_EQ(reader.lineNumber(), 1);
  EXPECT_EQ(Read(reader, 4), (Line{1, u"", false}));  // the line feed after a full piece
  EXPECT_EQ(Read(reader, 4), (Line{1, u"z", false}));
  EXPECT_EQ(reader.lineNumber(), 2);
}

TEST_F(TextLineReaderTest, OtherByteOrderMarksAreReadAsEightBitText) {
  TextLineReader bigEndian;
  bigEndian.Open(File("\xFE\xFF\x00\x41", "be.idx"));
  EXPECT_EQ(bigEndian.mode(), ReaderMode::EightBit);
  EXPECT_EQ(Read(bigEndian).text, u"\u044E\u044F");  // the 0 byte ends the line

  // FF 0F is no byte-order mark of any kind: 8-bit text from the first byte.
  TextLineReader ff0f;
  ff0f.Open(File("\xFF\x0F\xE0\xE1\n", "ff0f.idx"));
  EXPECT_EQ(ff0f.mode(), ReaderMode::EightBit);
  EXPECT_EQ(Read(ff0f).text, u"\u044F\u000Fаб");
}

TEST_F(TextLineReaderTest, FailedOpenThenClose) {
  TextLineReader reader;
  EXPECT_EQ(reader.status(), ReaderStatus::NotOpen);
  reader.Open(dir.wide(true) + u"missing.idx");
  EXPECT_EQ(reader.status(), ReaderStatus::OpenFailed);
  EXPECT_EQ(reader.mode(), ReaderMode::EightBit);
  EXPECT_EQ(reader.fileName(), dir.wide(true) + u"missing.idx");
  reader.Close();
  EXPECT_EQ(reader.status(), ReaderStatus::NotOpen);

  fs::create_directory(dir / "Lesson.idx");
  TextLineReader directory;
  directory.Open(dir.wide(true) + u"Lesson.idx");
  EXPECT_EQ(directory.status(), ReaderStatus::OpenFailed);
}

TEST_F(TextLineReaderTest, ReadErrorFailsTheOpen) {
  // Offset 0 of a process's memory file is unmapped: every read fails with EIO.
  TextLineReader reader;
  reader.Open(u"/proc/self/mem");
  EXPECT_EQ(reader.status(), ReaderStatus::OpenFailed);
  EXPECT_EQ(reader.error(), platform::FileError::ReadFailed);
  EXPECT_TRUE(reader.AtEnd());
}

TEST_F(TextLineReaderTest, OnlyRegularFilesOpenAndAFifoNeverBlocks) {
  const fs::path fifo = dir / "fifo.idx";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto opening = std::async(std::launch::async, [&] {
    TextLineReader reader;
    reader.Open(platform::FromUtf8(fifo.string()));
    return std::pair{reader.status(), reader.error()};
  });
  if (opening.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    // Release the blocked open so that the test can end, then fail.
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    ::close(writer);
    FAIL() << "opening a FIFO blocked";
  }
  EXPECT_EQ(opening.get(),
            std::pair(ReaderStatus::OpenFailed, platform::FileError::NotRegularFile));

  TextLineReader device;
  device.Open(u"/dev/null");
  EXPECT_EQ(device.error(), platform::FileError::NotRegularFile);
  fs::create_directory(dir / "d.idx");
  TextLineReader directory;
  directory.Open(dir.wide(true) + u"d.idx");
  EXPECT_EQ(directory.error(), platform::FileError::NotRegularFile);
  TextLineReader missing;
  missing.Open(dir.wide(true) + u"none.idx");
  EXPECT_EQ(missing.error(), platform::FileError::NotFound);
}

TEST_F(TextLineReaderTest, FileLargerThanTheLimitIsRefused) {
  const std::u16string path = File("a b\n");
  fs::resize_file(dir / "lesson.idx", TextLineReader::kMaxFileSize + 1);  // sparse: no disk used
  TextLineReader reader;
  reader.Open(path);
  EXPECT_EQ(reader.status(), ReaderStatus::OpenFailed);
  EXPECT_EQ(reader.error(), platform::FileError::TooLarge);

  fs::resize_file(dir / "lesson.idx", TextLineReader::kMaxFileSize);
  reader.Open(path);
  EXPECT_EQ(reader.status(), ReaderStatus::Opened);
}

TEST_F(TextLineReaderTest, TinySizesDropWhatCannotFitInsteadOfStalling) {
  for (const std::string& bytes :
       {std::string("abc\r\nf"), std::string(kBom) + Utf16LeBytes(u"ab\r\nc"),
        std::string("\xD0\xB6\xD0\xB6\n\xD0\xB6")}) {
    TextLineReader reader;
    reader.Open(File(bytes));
    EXPECT_EQ(Read(reader, 1), (Line{1, u"", false}));
    EXPECT_EQ(Read(reader, 1), (Line{1, u"", true}));
    EXPECT_EQ(Read(reader, 1).result, 0);
  }
  // Room for one unit: a character of two (a surrogate pair) fits no piece and is dropped.
  TextLineReader reader;
  reader.Open(
      File("\xF0\x9F\x8E\xA4"
           "a\xF0\x9F\x8E\xA4\n"));
  EXPECT_EQ(Read(reader, 2), (Line{1, u"a", false}));
  EXPECT_EQ(Read(reader, 2), (Line{1, u"", false}));
  EXPECT_EQ(Read(reader, 2), (Line{1, u"", true}));
}

TEST_F(TextLineReaderTest, OpensUtf8PathsIgnoringCase) {
  File("\xD3\xF0\xEE\xEA\r\n", "Уроки/Урок1.IDX");
  TextLineReader reader;
  reader.Open(dir.wide(true) + u"уроки/урок1.idx");
  ASSERT_EQ(reader.status(), ReaderStatus::Opened);
  EXPECT_EQ(Read(reader).text, u"Урок");

  File("hy\n", "Դաս/Բառ.idx");
  TextLineReader armenian;
  armenian.Open(dir.wide(true) + u"ԴԱՍ/բառ.idx");
  EXPECT_EQ(armenian.status(), ReaderStatus::Opened);
}

TEST_F(TextLineReaderTest, PathLengthIsLimitedTo255Units) {
  const std::u16string base = dir.wide(true);
  ASSERT_LT(base.size(), 200u);
  const std::u16string name255 = std::u16string(255 - base.size() - 4, u'n') + u".idx";
  File("ok\n", platform::ToUtf8(name255));

  TextLineReader fits;
  fits.Open(base + name255);
  EXPECT_EQ(fits.status(), ReaderStatus::Opened);
  EXPECT_EQ(fits.fileName().size(), 255u);

  TextLineReader tooLong;
  tooLong.Open(base + u"n" + name255);
  EXPECT_EQ(tooLong.status(), ReaderStatus::OpenFailed);
  tooLong.Open(std::u16string(5000, u'x'));
  EXPECT_EQ(tooLong.status(), ReaderStatus::OpenFailed);
  tooLong.Close();
  EXPECT_EQ(tooLong.status(), ReaderStatus::NotOpen);
}

std::size_t OpenDescriptors() {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

TEST_F(TextLineReaderTest, DestructionAndCloseReleaseTheFile) {
  const std::u16string path = File("a\nb\n");
  const std::size_t before = OpenDescriptors();
  {
    TextLineReader reader;
    reader.Open(path);
    ASSERT_EQ(reader.status(), ReaderStatus::Opened);
    EXPECT_EQ(OpenDescriptors(), before + 1);
    Read(reader);
  }
  EXPECT_EQ(OpenDescriptors(), before);

  TextLineReader reader;
  reader.Open(path);
  reader.Close();
  EXPECT_EQ(reader.status(), ReaderStatus::NotOpen);
  EXPECT_EQ(OpenDescriptors(), before);
  reader.Close();  // closing twice is harmless
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
}  // namespace voxtar::text
