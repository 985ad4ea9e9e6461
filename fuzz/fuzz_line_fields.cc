// Feeds arbitrary bytes to LineFields and, as a list file, to loadListFile.
//
// Input: the first byte is the separator, the rest is the text. The whole input
// is also the content of a list file.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "lists/line_fields.h"
#include "lists/list_file.h"
#include "simulated/simulated_platform.h"

namespace vdksvc::fuzz {
namespace {

bool isLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool isBlank(unsigned char byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r';
}

bool isWideSpaceAt(std::string_view text, std::size_t index) {
  return index + 1 < text.size() && static_cast<unsigned char>(text[index]) == 0x81 &&
         static_cast<unsigned char>(text[index + 1]) == 0x40;
}

// A second, deliberately plain trim to compare LineFields' own against; the
// ideographic space counts only in Shift_JIS text.
std::string referenceTrim(std::string_view field, bool shiftJis) {
  for (;;) {
    if (!field.empty() && isBlank(static_cast<unsigned char>(field.front()))) {
      field.remove_prefix(1);
    } else if (shiftJis && isWideSpaceAt(field, 0)) {
      field.remove_prefix(2);
    } else {
      break;
    }
  }
  for (;;) {
    if (!field.empty() && isBlank(static_cast<unsigned char>(field.back()))) {
      field.remove_suffix(1);
    } else if (shiftJis && field.size() >= 2 && isWideSpaceAt(field, field.size() - 2)) {
      field.remove_suffix(2);
    } else {
      break;
    }
  }
  return std::string(field);
}

std::vector<std::string> fieldsOf(const LineFields& line) {
  std::vector<std::string> fields;
  for (std::size_t i = 0; i < line.count(); ++i) fields.push_back(line.field(i));
  require(line.field(line.count()).empty(), "field beyond count is not empty");
  return fields;
}

/// Splits \a text as Shift_JIS text, or with \a shiftJis false as UTF-8 text.
void checkSplit(std::string_view text, char separator, bool shiftJis) {
  const std::vector<std::string> raw = fieldsOf(LineFields(text, separator, false, shiftJis));
  const std::vector<std::string> trimmed = fieldsOf(LineFields(text, separator, true, shiftJis));

  require(raw.empty() == text.empty(), "fields exist exactly when the text is not empty");
  require(raw.size() == trimmed.size(), "trimming changed the number of fields");
  std::size_t separators = 0;
  for (char c : text) separators += (c == separator) ? 1 : 0;
  require(raw.size() <= separators + 1, "more fields than separators allow");

  std::size_t total = 0;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    total += raw[i].size();
    require(trimmed[i] == referenceTrim(raw[i], shiftJis),
            "trimmed field differs from the reference");
  }
  require(total <= text.size(), "fields hold more bytes than the text");

  bool hasLeadByte = false;
  for (char c : text) hasLeadByte = hasLeadByte || isLeadByte(static_cast<unsigned char>(c));
  if (shiftJis && hasLeadByte) return;
  // Without double-byte characters the fields joined again give the text up to
  // its first line end.
  std::size_t lineEnd = 0;
  while (lineEnd < text.size() &&
         (text[lineEnd] == separator || (text[lineEnd] != '\n' && text[lineEnd] != '\r'))) {
    ++lineEnd;
  }
  std::string joined;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (i > 0) joined += separator;
    joined += raw[i];
  }
  require(joined == text.substr(0, lineEnd), "fields do not rebuild the line");
}

void checkListFile(const std::uint8_t* data, std::size_t size) {
  const char* path = "C:\\Lists\\services.lst";
  // On a single-byte ANSI code page and on UTF-8, which convert a Unicode
  // file's lines differently and split lines by other rules.
  for (const bool utf8 : {false, true}) {
    ServiceList list;
    SimulatedPlatform sim;
    sim.setUtf8CodePage(utf8);
    sim.setFileContents(path, std::string(reinterpret_cast<const char*>(data), size));
    const bool added = loadListFile(sim, path, list);
    require(sim.openResources().empty(), "the list file was left open");
    require(added == (list.size() > 0), "result does not tell whether entries were added");
    for (std::size_t i = 0; i < list.size(); ++i) {
      const ServiceEntry& entry = list.at(i);
      for (const std::string* text : {&entry.binaryPath, &entry.serviceName, &entry.displayName}) {
        require(text->size() <= 1023, "field longer than one piece");
        require(text->find('\0') == std::string::npos, "field holds a NUL byte");
      }
      require(entry.startTypeWord.empty(), "list file entry has a start-type word");
    }
  }
}

}  // namespace
}  // namespace vdksvc::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vdksvc::fuzz;
  if (size > 0) {
    const auto separator = static_cast<char>(data[0]);
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    for (const bool shiftJis : {true, false}) {
      checkSplit(text, separator, shiftJis);
      checkSplit(text, ',', shiftJis);
    }
  }
  checkListFile(data, size);
  return 0;
}
