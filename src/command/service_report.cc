#include "command/service_report.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "base/text.h"
#include "services/service_names.h"

namespace vdksvc {
namespace {

enum Column : std::size_t {
  kService,
  kState,
  kStart,
  kPid,
  kDisplayName,
  kBinaryPath,
  kListedPath,
  kColumns
};
using Row = std::array<std::string, kColumns>;

/// \a path without the quotes around the whole of it, if it has them.
std::string_view unquoted(std::string_view path) {
  if (path.size() >= 2 && path.front() == '"' && path.back() == '"') {
    path.remove_prefix(1);
    path.remove_suffix(1);
  }
  return path;
}

/// Whether the list's path names what the manager stores: the same text without
/// regard to ASCII letter case, quotes around the whole path aside (the
/// installation quotes a path with a blank).
bool samePath(std::string_view listed, std::string_view stored) {
  return asciiLowered(unquoted(listed)) == asciiLowered(unquoted(stored));
}

Row rowOf(const ServiceEntry& entry, const ServiceReport& report) {
  Row row;
  row[kService] = entry.serviceName;
  row[kDisplayName] = entry.displayName;
  switch (report.found) {
    case ServiceReport::Found::kUnreadable:
      row[kState] = "ERROR " + std::to_string(report.error);
      return row;
    case ServiceReport::Found::kNotInstalled:
      row[kState] = "NOT_INSTALLED";
      break;
    case ServiceReport::Found::kInstalled: {
      row[kState] =
          isServiceState(report.state) ? stateName(report.state) : std::to_string(report.state);
      if (report.processId != 0) row[kPid] = std::to_string(report.processId);
      if (!report.configKnown) {
        // Nothing tells where its program lies, so nothing tells the list's apart.
        row[kStart] = "UNKNOWN";
        return row;
      }
      const char* start = startTypeName(report.startType);
      row[kStart] = start != nullptr ? start : std::to_string(report.startType);
      row[kDisplayName] = report.displayName;
      row[kBinaryPath] = report.binaryPath;
      break;
    }
  }
  if (!entry.binaryPath.empty() && !samePath(entry.binaryPath, row[kBinaryPath])) {
    row[kListedPath] = entry.binaryPath;
  }
  return row;
}

/// A field in double quotes, with the quotes inside doubled, as tasklist /fo csv
/// writes.
std::string csvField(std::string_view text) {
  std::string field = "\"";
  for (const char c : text) {
    if (c == '"') field += '"';
    field += c;
  }
  return field + '"';
}

void writeCsv(TextOutput& output, const std::vector<Row>& rows) {
  output.writeLine(
      R"("Service","State","Start","PID","Display name","Binary path","Listed binary path")");
  for (const Row& row : rows) {
    std::string line;
    for (std::size_t column = 0; column < kColumns; ++column) {
      if (column > 0) line += ',';
      line += csvField(row[column]);
    }
    output.writeLine(line);
  }
}

/// A line break inside a name would break the table's row: it shows as a blank.
std::string oneLine(std::string text) {
  std::replace_if(
      text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  return text;
}

void writeTable(TextOutput& output, std::vector<Row> rows) {
  // The listed path follows the stored one in the last column.
  for (Row& row : rows) {
    if (!row[kListedPath].empty()) {
      row[kBinaryPath] +=
          (row[kBinaryPath].empty() ? "(list: " : " (list: ") + row[kListedPath] + ")";
    }
    for (std::string& field : row) field = oneLine(std::move(field));
  }
  const Row header{"SERVICE", "STATE", "START", "PID", "DISPLAY NAME", "BINARY PATH", ""};
  // Columns as wide as their widest field in bytes, which a double-byte code
  // page shows two columns wide too, and two blanks apart.
  std::array<std::size_t, kColumns> width{};
  for (std::size_t column = 0; column < kBinaryPath; ++column) {
    width[column] = header[column].size();
    for (const Row& row : rows) width[column] = std::max(width[column], row[column].size());
  }
  const auto lineOf = [&width](const Row& row) {
    std::string line;
    for (std::size_t column = 0; column < kBinaryPath; ++column) {
      line += row[column];
      line.append(width[column] + 2 - row[column].size(), ' ');
    }
    line += row[kBinaryPath];
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
  };
  output.writeLine(lineOf(header));
  for (const Row& row : rows) output.writeLine(lineOf(row));
}

}  // namespace

void writeServiceReport(TextOutput& output, ReportFormat format, const ServiceList& list,
                        const std::vector<ServiceReport>& reports) {
  std::vector<Row> rows;
  rows.reserve(list.size());
  for (std::size_t i = 0; i < list.size() && i < reports.size(); ++i) {
    rows.push_back(rowOf(list.at(i), reports[i]));
  }
  if (format == ReportFormat::kCsv) {
    writeCsv(output, rows);
  } else {
    writeTable(output, std::move(rows));
  }
}

}  // namespace vdksvc
