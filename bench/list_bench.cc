// Speed of the list readers: LineFields on list-file lines, loadListFile on a
// large file and loadRegistryCatalogue on a large catalogue; with what they take
// from the heap.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "heap_meter.h"
#include "lists/line_fields.h"
#include "lists/list_file.h"
#include "lists/registry_catalogue.h"
#include "simulated/simulated_platform.h"

namespace vdksvc {
namespace {

const std::string kTypicalLine =
    "\"C:\\Program Files\\Corvane\\Vardeck\\bin\\vdkweb.exe\" -service, VdkWeb, "
    "Vardeck Web Service\r\n";

// The display name is "Vardeck サービス" in Shift_JIS, and the path holds 0x83 0x5C.
const std::string kShiftJisLine =
    "C:\\Corvane\\\x83\x5C\\vdkweb.exe, VdkWeb, \x81\x40Vardeck \x83\x54\x81\x5B\x83\x72\x83\x58"
    "\x81\x40\r\n";

// The longest piece the list-file reader hands over: 1023 bytes in three fields.
std::string longestLine(bool doubleByte) {
  std::string line;
  const std::string unit = doubleByte ? "\x83\x54" : "ab";
  for (int field = 0; field < 3; ++field) {
    if (field > 0) line += ", ";
    while (line.size() < static_cast<std::size_t>(field + 1) * 340) line += unit;
  }
  line.resize(1023, 'z');
  return line;
}

void splitLine(benchmark::State& state, const std::string& line) {
  const std::size_t allocationsBefore = heap::allocations();
  std::size_t heapFields = 0;
  for (auto _ : state) {
    const LineFields fields(line, ',', true);
    benchmark::DoNotOptimize(fields.field(2).data());
    heapFields = 0;
    for (std::size_t i = 0; i < fields.count(); ++i) {
      // A field longer than the string's own small buffer has a heap block.
      if (fields.field(i).size() > std::string().capacity()) ++heapFields;
    }
  }
  const auto splits = static_cast<double>(state.iterations());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(line.size()));
  // Allocations per split beyond the fields' own blocks: the list of fields.
  state.counters["allocs_beyond_fields"] =
      static_cast<double>(heap::allocations() - allocationsBefore) / splits -
      static_cast<double>(heapFields);
}

void BM_LineFieldsTypical(benchmark::State& state) { splitLine(state, kTypicalLine); }
BENCHMARK(BM_LineFieldsTypical);

void BM_LineFieldsShiftJis(benchmark::State& state) { splitLine(state, kShiftJisLine); }
BENCHMARK(BM_LineFieldsShiftJis);

void BM_LineFieldsLongest(benchmark::State& state) { splitLine(state, longestLine(false)); }
BENCHMARK(BM_LineFieldsLongest);

void BM_LineFieldsLongestShiftJis(benchmark::State& state) { splitLine(state, longestLine(true)); }
BENCHMARK(BM_LineFieldsLongestShiftJis);

/// A list file of \a lines records, a comment line before every 50th.
std::string listFileOf(int lines) {
  std::string bytes;
  char line[128];
  for (int i = 0; i < lines; ++i) {
    if (i % 50 == 0) bytes += "# group of services\n";
    const int length = std::snprintf(line, sizeof line,
                                     "\"C:\\Program Files\\Corvane\\Vardeck\\bin\\svc%05d.exe\", "
                                     "Vdk%05d, Vardeck Service %05d\r\n",
                                     i, i, i);
    bytes.append(line, static_cast<std::size_t>(length));
  }
  return bytes;
}

void BM_LoadListFile(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  const char* path = "C:\\Lists\\services.lst";
  const std::string file = listFileOf(lines);
  SimulatedPlatform sim;
  sim.setFileContents(path, file);
  heap::resetPeak();
  const std::size_t liveBefore = heap::liveBytes();
  for (auto _ : state) {
    ServiceList list;
    if (!loadListFile(sim, path, list) || list.size() != static_cast<std::size_t>(lines)) {
      state.SkipWithError("list file not read as written");
      break;
    }
    benchmark::DoNotOptimize(list.at(0).serviceName.data());
    sim.clearCalls();  // the call log would otherwise grow with every iteration
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * lines);
  state.counters["file_MB"] = static_cast<double>(file.size()) / 1e6;
  // The most heap the reading held at once, as a multiple of the file's size.
  state.counters["peak_heap_per_file_byte"] =
      static_cast<double>(heap::peakBytes() - liveBefore) / static_cast<double>(file.size());
}
BENCHMARK(BM_LoadListFile)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_LoadRegistryCatalogue(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  std::vector<std::string> strings;
  for (int i = 0; i < count; ++i) {
    strings.push_back("bin\\svc" + std::to_string(i) + ".exe, Vdk" + std::to_string(i) +
                      ", Vardeck Service " + std::to_string(i));
  }
  SimulatedPlatform sim;
  sim.setMultiText(kProductKey, "ServicesList", strings);
  const std::string homeDir = "C:\\Program Files\\Corvane\\Vardeck";

  for (auto _ : state) {
    ServiceList list;
    if (!loadRegistryCatalogue(sim, homeDir, list) ||
        list.size() != static_cast<std::size_t>(count)) {
      state.SkipWithError("catalogue not read as stored");
      break;
    }
    benchmark::DoNotOptimize(list.at(0).binaryPath.data());
    sim.clearCalls();  // the call log would otherwise grow with every iteration
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * count);
}
BENCHMARK(BM_LoadRegistryCatalogue)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vdksvc
