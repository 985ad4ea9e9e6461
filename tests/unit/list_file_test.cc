#include "lists/list_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "test_support.h"

namespace vdksvc {
namespace {

using Entry = std::array<std::string, 3>;  // binary path, service name, display name
using Entries = std::vector<Entry>;

Entries entriesOf(const ServiceList& list) {
  Entries entries;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const ServiceEntry& entry = list.at(i);
    EXPECT_EQ("", entry.startTypeWord);
    entries.push_back({entry.binaryPath, entry.serviceName, entry.displayName});
  }
  return entries;
}

struct Loaded {
  bool result = false;
  Entries entries;
};

constexpr const char* kPath = "C:\\Lists\\services.lst";

Loaded load(const std::string& bytes, bool utf8CodePage = false) {
  SimulatedPlatform sim;
  sim.setUtf8CodePage(utf8CodePage);
  sim.setFileContents(kPath, bytes);
  ServiceList list;
  const bool result = loadListFile(sim, kPath, list);
  EXPECT_THAT(sim.openResources(), ::testing::IsEmpty());
  return {result, entriesOf(list)};
}

void expectEntries(const std::string& bytes, const Entries& expected) {
  const Loaded loaded = load(bytes);
  EXPECT_EQ(!expected.empty(), loaded.result) << bytes;
  EXPECT_EQ(expected, loaded.entries) << bytes;
}

TEST(ListFile, ReadsRecordsInOrder) {
  expectEntries(
      "\"C:\\Corvane\\web.exe\" -s,VdkWeb,Vardeck Web\n"
      "C:\\Corvane\\db.exe,VdkDb,Vardeck DB\n"
      "C:\\Corvane\\web.exe,VdkWeb,Again",  // no line end at the end of the file
      {{"\"C:\\Corvane\\web.exe\" -s", "VdkWeb", "Vardeck Web"},
       {"C:\\Corvane\\db.exe", "VdkDb", "Vardeck DB"},
       {"C:\\Corvane\\web.exe", "VdkWeb", "Again"}});
}

TEST(ListFile, TrimsFieldsAndDropsLineEnds) {
  expectEntries(
      " \t\"C:\\Program Files\\a.exe\" , SvcA ,\tService A \t\r\n"
      "b.exe,SvcB,Service B\r\n"
      "\x81\x40"
      "c.exe,SvcC,"
      "\x81\x40"
      "\x83\x54\x81\x5B\x83\x72\x83\x58"
      "\x81\x40"
      "\r\n",
      {{"\"C:\\Program Files\\a.exe\"", "SvcA", "Service A"},
       {"b.exe", "SvcB", "Service B"},
       {"c.exe", "SvcC", "\x83\x54\x81\x5B\x83\x72\x83\x58"}});
}

TEST(ListFile, CommentOnlyAtFirstByte) {
  expectEntries("#x.exe,X,Comment\n #y.exe,Y,Record\n#\nz.exe,Z,Hash # inside\n",
                {{"#y.exe", "Y", "Record"}, {"z.exe", "Z", "Hash # inside"}});
}

TEST(ListFile, IgnoresLinesWithFewerThanThreeFields) {
  expectEntries("a.exe,A\n\njust text\nc.exe,C,Service C\n  \t \r\n",
                {{"c.exe", "C", "Service C"}});
  // 0x82 takes the ',' after it, which leaves two fields.
  expectEntries("a.exe\x82,A,Service\n", {});
  expectEntries("a.exe\x82,,A,Service\n", {{"a.exe\x82", "A", "Service"}});
}

TEST(ListFile, NoRecordGivesFalse) {
  for (const char* bytes : {"a.exe,A\nb.exe,B\n", "", "\n\n", "#a,b,c\n# d,e,f\n"}) {
    expectEntries(bytes, {});
  }
}

TEST(ListFile, TwoCommasGiveAnEntryOfEmptyTexts) { expectEntries(",,\n", {{"", "", ""}}); }

TEST(ListFile, FieldsAfterTheThirdAreIgnored) {
  expectEntries("a.exe, A, Service A, extra, more\n", {{"a.exe", "A", "Service A"}});
}

TEST(ListFile, MissingFileGivesFalse) {
  SimulatedPlatform sim;
  sim.addDirectory("C:\\Lists");
  ServiceList list;
  list.addEntry("kept.exe", "Kept", "Kept");
  EXPECT_FALSE(loadListFile(sim, kPath, list));
  EXPECT_FALSE(loadListFile(sim, "C:\\Lists", list));
  EXPECT_FALSE(loadListFile(sim, nullptr, list));
  EXPECT_EQ((Entries{{"kept.exe", "Kept", "Kept"}}), entriesOf(list));
}

TEST(ListFile, AppendsToTheList) {
  SimulatedPlatform sim;
  sim.setFileContents("records.lst", "b.exe,B,Service B\n");
  sim.setFileContents("none.lst", "b.exe,B\n");
  // An installer still writing the file, sharing it for reading, locks no reader out.
  const FileHandle writer(sim, sim.CreateFileA("records.lst", file::kAppendData, file::kShareRead,
                                               nullptr, file::kOpenExisting, 0, nullptr));
  ServiceList list;
  list.addEntry("a.exe", "A", "Service A");
  // The result tells whether this file added something, not whether the list
  // holds entries.
  EXPECT_FALSE(loadListFile(sim, "none.lst", list));
  EXPECT_TRUE(loadListFile(sim, "records.lst", list));
  EXPECT_TRUE(loadListFile(sim, "records.lst", list));
  EXPECT_EQ(
      (Entries{
          {"a.exe", "A", "Service A"}, {"b.exe", "B", "Service B"}, {"b.exe", "B", "Service B"}}),
      entriesOf(list));
}

// A 1023-byte piece "p1,s1,ddd..." whose display name fills the rest.
std::string firstPiece() { return "p1,s1," + std::string(1023 - 6, 'd'); }
const Entry kFirstPiece = {"p1", "s1", std::string(1017, 'd')};

TEST(ListFile, LongLineIsReadInPieces) {
  // 1500 bytes: a piece of 1023 bytes, then one of 477 bytes plus the LF.
  const std::string second = "p2,s2," + std::string(477 - 6, 'e');
  expectEntries(firstPiece() + second + "\nq.exe,Q,Next\n",
                {kFirstPiece, {"p2", "s2", std::string(471, 'e')}, {"q.exe", "Q", "Next"}});
  // A rest with fewer than three fields is ignored.
  expectEntries(firstPiece() + "tail,only\n", {kFirstPiece});
}

TEST(ListFile, PieceOfLongLineMayBeAComment) {
  // A later piece that begins with '#' is skipped; and only the piece that
  // begins with '#' is: the tail of a long comment line is read as a record.
  expectEntries(firstPiece() + "#p2,s2,d2\n" + "#" + std::string(1022, 'x') + "p3,s3,d3\n",
                {kFirstPiece, {"p3", "s3", "d3"}});
}

TEST(ListFile, LeadByteCutByPieceEndStaysInField) {
  // Byte 1023 of the line is a lead byte; its second byte starts the next piece.
  const std::string line = "p1,s1," + std::string(1016, 'd') + "\x82" + "\x40,s2,d2\n";
  expectEntries(line, {{"p1", "s1", std::string(1016, 'd') + "\x82"}, {"@", "s2", "d2"}});
}

TEST(ListFile, NulByteEndsTheLineText) {
  using namespace std::string_literals;
  expectEntries(
      "a.exe,A,Service A\0,x,y\n"s
      "\0b.exe,B,Service B\n"s
      "c.exe,C\0,Service C\n"s
      "d.exe,D,Service D\n"s,
      {{"a.exe", "A", "Service A"}, {"d.exe", "D", "Service D"}});
}

/// \a text as Windows PowerShell's ">" writes it: UTF-16 little-endian after
/// its mark.
std::string utf16File(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (const char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

TEST(ListFile, FilesWithTheByteOrderMarksOfWindowsTools) {
  // Notepad's "UTF-8": the mark does not make a record of the comment.
  expectEntries("\xEF\xBB\xBF# program file, service name, display name\r\na.exe,A,Service A\r\n",
                {{"a.exe", "A", "Service A"}});
  // UTF-16, converted to the ANSI code page (1252 here).
  expectEntries(utf16File(u"# comment\r\nC:\\Program Files\\a.exe, A, Caf\u00E9\r\nb.exe,B,\u20AC"),
                {{"C:\\Program Files\\a.exe", "A", "Caf\xE9"}, {"b.exe", "B", "\x80"}});

  // A line with a character the code page lacks is skipped, and the step log says so.
  SimulatedPlatform sim;
  sim.setFileContents(kPath, utf16File(u"a.exe,A,\u3042\r\nb.exe,B,Service B\r\n"));
  ServiceList list;
  {
    StepLog log(sim, "C:\\Logs\\vdksvc.log");
    EXPECT_TRUE(loadListFile(sim, kPath, list, log));
  }
  EXPECT_EQ((Entries{{"b.exe", "B", "Service B"}}), entriesOf(list));
  EXPECT_NE(std::string::npos, sim.fileContents("C:\\Logs\\vdksvc.log")
                                   .value_or("")
                                   .find(": line 1 holds a character the ANSI code page lacks"));
}

// A file with the UTF-8 mark is converted to the ANSI code page as a UTF-16 file
// is. Where the ANSI code page is UTF-8 every character converts, and lines are
// split without the Shift_JIS rules: "\xE3\x81\x81" is one character whose last
// byte would otherwise swallow the comma after it. A file without a mark is text
// as msvcrt's text mode reads it.
struct FileCase {
  const char* what;
  bool utf8CodePage = false;
  std::string bytes;
  Entries entries;
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.what; }

const std::string kUtf8Mark = "\xEF\xBB\xBF";
const Entry kA = {"a.exe", "A", "Alpha"};
const Entry kB = {"b.exe", "B", "Beta"};
// A comment line after which "a.exe,A,Alpha" ends at byte 4095, the last of the
// first 4096-byte read.
const std::string kFirstRead = std::string(4081, '#') + "\n" + "a.exe,A,Alpha";

const FileCase kFileCases[] = {
    {"utf8 to code page 1252",
     false,
     kUtf8Mark + "a.exe,A,Caf\xC3\xA9\r\n",
     {{"a.exe", "A", "Caf\xE9"}}},
    {"a character 1252 lacks",
     false,
     kUtf8Mark + "a.exe,A,\xE3\x81\x81\r\nb.exe,B,b\r\n",
     {{"b.exe", "B", "b"}}},
    {"bytes that are not utf8",
     false,
     kUtf8Mark + "a.exe,A,Caf\xE9\r\nb.exe,B,b\r\n",
     {{"b.exe", "B", "b"}}},
    {"an overlong form", false, kUtf8Mark + "a.exe,A,\xC0\xAF\r\n", {}},
    {"an encoded surrogate", false, kUtf8Mark + "a.exe,A,\xED\xA0\x80\r\n", {}},
    {"a comment with bad bytes",
     false,
     kUtf8Mark + "#\xFF\r\nb.exe,B,b\r\n",
     {{"b.exe", "B", "b"}}},
    {"utf8 on the utf8 code page",
     true,
     kUtf8Mark + "a.exe,\xE3\x81\x81,x\r\n",
     {{"a.exe", "\xE3\x81\x81", "x"}}},
    {"utf16 on the utf8 code page",
     true,
     utf16File(u"a.exe,A,\u3041\r\nb.exe,\U0001F600,b"),
     {{"a.exe", "A", "\xE3\x81\x81"}, {"b.exe", "\xF0\x9F\x98\x80", "b"}}},
    {"a lone surrogate", true, utf16File(u"a.exe,A,\xD800\r\nb.exe,B,b"), {{"b.exe", "B", "b"}}},
    {"no mark on the utf8 code page",
     true,
     "a.exe,\xE3\x81\x81,x\r\n",
     {{"a.exe", "\xE3\x81\x81", "x"}}},
    {.what = "a ctrl z in a marked file is a byte like others",
     .bytes = kUtf8Mark + "a.exe,A,Al\x1Apha\r\nb.exe,B,Beta\r\n",
     .entries = {{"a.exe", "A", "Al\x1Apha"}, kB}},
    // Files without a mark, read as msvcrt's text mode reads them.
    {.what = "a lone cr stays and ends the text of its line",
     .bytes = "a.exe,A,Alpha\rc.exe,C,Gamma\nb.exe,B,Beta\n",
     .entries = {kA, kB}},
    {.what = "a cr at the very end", .bytes = "b.exe,B,Beta\na.exe,A,Alpha\r", .entries = {kB, kA}},
    {.what = "cr cr lf", .bytes = "a.exe,A,Alpha\r\r\nb.exe,B,Beta\n", .entries = {kA, kB}},
    {.what = "a ctrl z ends the text",
     .bytes = "a.exe,A,Alpha\r\n\x1A\r\nb.exe,B,Beta\r\n",
     .entries = {kA}},
    {.what = "a ctrl z ends a line",
     .bytes = "a.exe,A,Alpha\x1A"
              "c.exe,C,Gamma\nb.exe,B,Beta\n",
     .entries = {kA}},
    {.what = "a ctrl z ends a file that only looks marked",
     .bytes = "\xEF\xBB\x1A\xBF"
              "a.exe,A,Alpha\n",
     .entries = {}},
    {.what = "cr lf across a read",
     .bytes = kFirstRead + "\r\nb.exe,B,Beta\n",
     .entries = {kA, kB}},
    {.what = "a lone cr across a read",
     .bytes = kFirstRead + "\rc.exe,C,Gamma\nb.exe,B,Beta\n",
     .entries = {kA, kB}},
    {.what = "cr and ctrl z across a read",
     .bytes = kFirstRead + "\r\x1A\nb.exe,B,Beta\n",
     .entries = {kA}},
};

class ListFileTest : public ::testing::TestWithParam<FileCase> {};

TEST_P(ListFileTest, ReadsTheEntriesOfEachLine) {
  const FileCase& c = GetParam();
  const Loaded loaded = load(c.bytes, c.utf8CodePage);
  EXPECT_EQ(!c.entries.empty(), loaded.result);
  EXPECT_EQ(c.entries, loaded.entries);
}

INSTANTIATE_TEST_SUITE_P(Table, ListFileTest, ::testing::ValuesIn(kFileCases), caseName<FileCase>);

}  // namespace
}  // namespace vdksvc
