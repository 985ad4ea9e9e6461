// Speed of the extended stop's sweep on a crowded machine: matching a snapshot of
// 10,000 processes against the image names of 1,000 entries, none of which runs,
// so the figure is the matching itself and the simulated snapshot walk.

#include <benchmark/benchmark.h>

#include <string>

#include "lists/service_list.h"
#include "services/process_sweep.h"
#include "simulated/simulated_platform.h"

namespace vdksvc {
namespace {

void BM_SweepMatching(benchmark::State& state) {
  const auto processes = static_cast<Dword>(state.range(0));
  const auto entries = static_cast<int>(state.range(1));
  SimulatedPlatform sim;
  for (Dword id = 1; id <= processes; ++id) {
    sim.addProcess({id, "Worker" + std::to_string(id) + ".exe"});
  }
  ServiceList list;
  for (int i = 0; i < entries; ++i) {
    const std::string path =
        "\"C:\\Program Files\\Corvane\\Vardeck\\bin\\vdk" + std::to_string(i) + ".exe\"";
    const std::string name = "Vdk" + std::to_string(i);
    list.addEntry(path.c_str(), name.c_str(), name.c_str());
  }
  for (auto _ : state) {
    sweepLeftoverProcesses(sim, list);
    sim.clearCalls();  // the call log would otherwise grow with every iteration
  }
  if (sim.nowMs() != 0 || !sim.openResources().empty()) {
    state.SkipWithError("the sweep waited or leaked");
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * processes);
}
// 10,000 processes against 1,000 entries, and against one entry: the difference is
// what the other 999 entries cost.
BENCHMARK(BM_SweepMatching)->Args({10000, 1000})->Args({10000, 1})->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vdksvc
