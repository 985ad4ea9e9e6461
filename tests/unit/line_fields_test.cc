#include "lists/line_fields.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace vdksvc {
namespace {

using Fields = std::vector<std::string>;

// Hex escapes swallow following hex digits ("\x82a" is one char), so byte
// sequences below are written as adjacent literals: "\x82" "a".

Fields split(std::string_view text, char separator = ',', bool trim = true) {
  const LineFields line(text, separator, trim);
  Fields fields;
  for (std::size_t i = 0; i < line.count(); ++i) fields.push_back(line.field(i));
  return fields;
}

Fields raw(std::string_view text, char separator = ',') { return split(text, separator, false); }

TEST(LineFields, SplitsAtSeparator) {
  EXPECT_EQ(split("a,b,c"), (Fields{"a", "b", "c"}));
  EXPECT_EQ(split("a,,b"), (Fields{"a", "", "b"}));
  EXPECT_EQ(split("abc"), (Fields{"abc"}));
  EXPECT_EQ(split(","), (Fields{"", ""}));
  EXPECT_EQ(split(",,"), (Fields{"", "", ""}));
  EXPECT_EQ(split("a,"), (Fields{"a", ""}));
  EXPECT_EQ(split(",a"), (Fields{"", "a"}));
  EXPECT_EQ(split("a,b;c", ';'), (Fields{"a,b", "c"}));
  EXPECT_EQ(split("a b\tc", ' ', false), (Fields{"a", "b\tc"}));
}

TEST(LineFields, EmptyTextHasNoFields) {
  const LineFields empty("", ',', true);
  EXPECT_EQ(0u, empty.count());
  EXPECT_EQ("", empty.field(0));
  // Not empty: each has one (empty) field.
  EXPECT_EQ(split("\n"), (Fields{""}));
  EXPECT_EQ(split("\r\n"), (Fields{""}));
  EXPECT_EQ(split(" \t "), (Fields{""}));
}

TEST(LineFields, FieldBeyondCountIsEmpty) {
  const LineFields line("a,b", ',', true);
  ASSERT_EQ(2u, line.count());
  EXPECT_EQ("b", line.field(1));
  EXPECT_EQ("", line.field(2));
  EXPECT_EQ("", line.field(1000));
}

TEST(LineFields, LineEndEndsTheSplit) {
  EXPECT_EQ(split("a,b\nc,d"), (Fields{"a", "b"}));
  EXPECT_EQ(split("a,b\r\nc,d"), (Fields{"a", "b"}));
  EXPECT_EQ(split("a\rb,c"), (Fields{"a"}));
  EXPECT_EQ(split("\n,x,y"), (Fields{""}));
  EXPECT_EQ(split("a,b,\n"), (Fields{"a", "b", ""}));
  // The line end is not part of the last field even untrimmed.
  EXPECT_EQ(raw("a, b \r\n"), (Fields{"a", " b "}));
  EXPECT_EQ(raw("x\ny"), (Fields{"x"}));
}

TEST(LineFields, TrimsBlanksAtBothEnds) {
  EXPECT_EQ(split(" a ,\tb\t,  c  "), (Fields{"a", "b", "c"}));
  EXPECT_EQ(split("a b , c\td"), (Fields{"a b", "c\td"}));
  EXPECT_EQ(split(" \t, \t"), (Fields{"", ""}));
  // Text that reached a field behind a lead byte can still be trimmed.
  EXPECT_EQ(split("\x82\n,b"), (Fields{"\x82", "b"}));
  EXPECT_EQ(split("\x82\r,b"), (Fields{"\x82", "b"}));
}

TEST(LineFields, UntrimmedFieldsKeepBlanks) {
  EXPECT_EQ(raw(" a ,\tb\t, c "), (Fields{" a ", "\tb\t", " c "}));
  EXPECT_EQ(raw("\x81\x40"
                "a"
                "\x81\x40"),
            (Fields{"\x81\x40"
                    "a"
                    "\x81\x40"}));
  EXPECT_EQ(raw("\x82\n,b"), (Fields{"\x82\n", "b"}));
}

TEST(LineFields, TrimsIdeographicSpace) {
  EXPECT_EQ(split("\x81\x40"
                  "a"),
            (Fields{"a"}));
  EXPECT_EQ(split("a"
                  "\x81\x40"),
            (Fields{"a"}));
  EXPECT_EQ(split("\x81\x40"), (Fields{""}));
  EXPECT_EQ(split("x,\x81\x40,y"), (Fields{"x", "", "y"}));
  EXPECT_EQ(split(" \x81\x40\t\x81\x40"
                  "a b"
                  "\x81\x40 \x81\x40\r\n"),
            (Fields{"a b"}));
  // Inside a field it stays.
  EXPECT_EQ(split("a"
                  "\x81\x40"
                  "b"),
            (Fields{"a"
                    "\x81\x40"
                    "b"}));
}

TEST(LineFields, TrimLeavesHalvesOfIdeographicSpace) {
  // A lone 0x81 (here the last byte of the text) is no space.
  EXPECT_EQ(split("a,\x81"), (Fields{"a", "\x81"}));
  // A lone 0x40 is '@', and '@' first in a field is never half of a space.
  EXPECT_EQ(split("@"), (Fields{"@"}));
  EXPECT_EQ(split(" @ ,a@"), (Fields{"@", "a@"}));
  // 0x81 followed by anything but 0x40 is an ordinary character.
  EXPECT_EQ(split("\x81\x41"
                  "a"
                  "\x81\x41"),
            (Fields{"\x81\x41"
                    "a"
                    "\x81\x41"}));
}

TEST(LineFields, TrimsBackByteByByte) {
  // 0x82 0x81 is one character and 0x40 an '@' after it; the back is trimmed
  // by bytes, so the final 0x81 0x40 still counts as an ideographic space.
  EXPECT_EQ(split("\x82\x81\x40"), (Fields{"\x82"}));
  // Likewise a blank that is the second byte of a character goes.
  EXPECT_EQ(split(" \x81 "), (Fields{"\x81"}));
  // From the front the walk goes pair by pair: 0x81 0x81 is no space.
  EXPECT_EQ(split("\x81\x81\x40"
                  "a"),
            (Fields{"\x81\x81\x40"
                    "a"}));
}

TEST(LineFields, LeadByteTakesItsSecondByte) {
  // Second byte is the separator: dropped, no split.
  EXPECT_EQ(split("\x82,a,b"), (Fields{"\x82"
                                       "a",
                                       "b"}));
  EXPECT_EQ(raw("x\x82,,y"), (Fields{"x\x82", "y"}));
  EXPECT_EQ(split("\x82;a;b", ';'), (Fields{"\x82"
                                            "a",
                                            "b"}));
  EXPECT_EQ(split("\x82,a;b", ';'), (Fields{"\x82,a", "b"}));
  // Second byte is a line end: kept, the walk goes on.
  EXPECT_EQ(raw("\x82\r"
                "a,b"),
            (Fields{"\x82\r"
                    "a",
                    "b"}));
  EXPECT_EQ(raw("\x82\n"
                "a\nb"),
            (Fields{"\x82\n"
                    "a"}));
  // A lead byte takes the next byte even when that one is a lead byte too.
  EXPECT_EQ(split("\x82\x82,a"), (Fields{"\x82\x82", "a"}));
  EXPECT_EQ(split("\x82\x82\x82,a"), (Fields{"\x82\x82\x82"
                                             "a"}));
  // Real characters: 0x83 0x5C and 0x95 0x5C end in a backslash.
  EXPECT_EQ(split("C:\\\x83\x5C\\a.exe,\x95\x5C,b"),
            (Fields{"C:\\\x83\x5C\\a.exe", "\x95\x5C", "b"}));
}

TEST(LineFields, LeadByteRange) {
  struct Case {
    unsigned char byte;
    bool lead;
  };
  const Case cases[] = {{0x7F, false}, {0x80, false}, {0x81, true}, {0x9F, true},  {0xA0, false},
                        {0xDF, false}, {0xE0, true},  {0xFC, true}, {0xFD, false}, {0xFF, false}};
  for (const Case& c : cases) {
    std::string text(1, static_cast<char>(c.byte));
    text += ",a";
    const Fields expected = c.lead ? Fields{std::string(1, static_cast<char>(c.byte)) + "a"}
                                   : Fields{std::string(1, static_cast<char>(c.byte)), "a"};
    EXPECT_EQ(raw(text), expected) << "byte 0x" << std::hex << int{c.byte};
  }
}

TEST(LineFields, LeadByteAsLastByte) {
  EXPECT_EQ(split("\x82"), (Fields{"\x82"}));
  EXPECT_EQ(split("a,\x82"), (Fields{"a", "\x82"}));
  EXPECT_EQ(split("a\x82"), (Fields{"a\x82"}));
  EXPECT_EQ(split("a,b\x82\x82\x82"), (Fields{"a", "b\x82\x82\x82"}));
  // Nothing past the text is read: the 'b' after the view is not taken for the
  // missing second byte.
  const char buffer[] =
      "a\x82"
      "b,c";
  EXPECT_EQ(split(std::string_view(buffer, 2)), (Fields{"a\x82"}));
  EXPECT_EQ(split(std::string_view(buffer, 5)), (Fields{"a\x82"
                                                        "b",
                                                        "c"}));
}

TEST(LineFields, NulIsAnOrdinaryByte) {
  // The text is what the view holds; callers reading C strings cut it first.
  using namespace std::string_literals;
  EXPECT_EQ(split("a\0b,c"s), (Fields{"a\0b"s, "c"}));
  EXPECT_EQ(split("\0,\0"s), (Fields{"\0"s, "\0"s}));
}

TEST(LineFields, LongFieldsAreKeptWhole) {
  const std::string longField(5000, 'x');
  EXPECT_EQ(split(longField + ", y ," + longField), (Fields{longField, "y", longField}));
  std::string padded(3000, ' ');
  padded.append("z").append(3000, '\t');
  EXPECT_EQ(split(padded), (Fields{"z"}));
}

}  // namespace
}  // namespace vdksvc
