#include "text/text_line_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "tests/support/temp_dir.h"

namespace voxtar {
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

Line Read(TextLineReader& reader, int size = 1023) {
  std::vector<char16_t> buffer(static_cast<std::size_t>(size) + 1, u'#');
  const int result = reader.ReadLine(buffer.data(), size);
  const std::u16string text = result == 1 ? std::u16string(buffer.data()) : u"<untouched>";
  if (result == 0) {
    EXPECT_EQ(buffer[0], u'#') << "a read at the end must leave the buffer alone";
  }
  return {result, text, reader.AtEnd()};
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
  EXPECT_EQ(Read(reader), (Line{0, u"<untouched>", true}));
}

TEST_F(TextLineReaderTest, Utf16LeLastLineWithoutLineFeedSetsAtEnd) {
  TextLineReader reader;
  reader.Open(File(std::string(kBom) + Utf16LeBytes(u"a\r\nb")));
  EXPECT_EQ(Read(reader), (Line{1, u"a", false}));
  EXPECT_EQ(Read(reader), (Line{1, u"b", true}));
  EXPECT_EQ(Read(reader), (Line{0, u"<untouched>", true}));
}

TEST_F(TextLineReaderTest, EightBitLinesAndEndBehaveTheSame) {
  TextLineReader reader;
  reader.Open(File("a\r\nb\r\n"));
  EXPECT_EQ(reader.mode(), ReaderMode::EightBit);
  EXPECT_EQ(Read(reader), (Line{1, u"a", false}));
  EXPECT_EQ(Read(reader), (Line{1, u"b", false}));
  EXPECT_EQ(Read(reader), (Line{1, u"", true}));
  EXPECT_EQ(Read(reader), (Line{0, u"<untouched>", true}));

  TextLineReader unterminated;
  unterminated.Open(File("a\nb", "other.idx"));
  EXPECT_EQ(Read(unterminated), (Line{1, u"a", false}));
  EXPECT_EQ(Read(unterminated), (Line{1, u"b", true}));
}

TEST_F(TextLineReaderTest, EightBitIsWindows1251RussianAndLatin1Otherwise) {
  TextLineReader reader;
  reader.Open(File("\xC0\xE1\xE2\xB8\r\n\xA8\xDF\xFF\xBF\xB9 \x7F\x01\n"));
  EXPECT_EQ(Read(reader).text, u"Абвё");
  EXPECT_EQ(Read(reader).text, u"\u00A8Яя\u00BF\u00B9 \u007F\u0001");
}

TEST_F(TextLineReaderTest, Utf16LeUnitsPassUnchangedAndCrBecomesATerminator) {
  TextLineReader reader;
  reader.Open(File(std::string(kBom) + Utf16LeBytes(u"Жa\rb\U0001F3A4\n")));
  std::vector<char16_t> buffer(16, u'#');
  ASSERT_EQ(reader.ReadLine(buffer.data(), 16), 1);
  EXPECT_EQ(std::u16string(buffer.data(), 7), std::u16string(u"Жa\0b\U0001F3A4\0", 7));
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
  EXPECT_EQ(Read(reader), (Line{0, u"<untouched>", true}));
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

TEST_F(TextLineReaderTest, OtherByteOrderMarksAreReadAsEightBitText) {
  TextLineReader utf8;
  utf8.Open(File("\xEF\xBB\xBFok\n", "utf8.idx"));
  EXPECT_EQ(utf8.mode(), ReaderMode::EightBit);
  EXPECT_EQ(Read(utf8).text, u"\u043F\u00BB\u00BFok");

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

TEST_F(TextLineReaderTest, ReadErrorEndsTheFileAndIsReported) {
  // Offset 0 of a process's memory file is unmapped: every read fails with EIO.
  TextLineReader reader;
  reader.Open(u"/proc/self/mem");
  ASSERT_EQ(reader.status(), ReaderStatus::Opened);
  EXPECT_FALSE(reader.ReadFailed());
  EXPECT_EQ(Read(reader), (Line{1, u"", true}));
  EXPECT_TRUE(reader.ReadFailed());

  TextLineReader healthy;
  healthy.Open(File("a\n"));
  Read(healthy);
  Read(healthy);
  EXPECT_TRUE(healthy.AtEnd());
  EXPECT_FALSE(healthy.ReadFailed());
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
}  // namespace voxtar
