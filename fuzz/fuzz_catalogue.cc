// Feeds arbitrary "ServicesList" values to the registry catalogue reader, on the
// simulated platform.
//
// Input: byte 0 is the value's registry type (any, the reader never looks at it;
// 0xFF leaves the value out), byte 1 the length of the home directory, then the
// home directory's bytes, then the value's raw bytes, stored as they are, so
// values without their closing NULs occur.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/registry_value.h"
#include "fuzz_support.h"
#include "lists/registry_catalogue.h"
#include "simulated/simulated_platform.h"

namespace vdksvc::fuzz {
namespace {

constexpr std::uint8_t kNoValue = 0xFF;

struct Input {
  Dword type = reg::kMultiSz;
  bool stored = true;
  std::string homeDir;
  std::vector<unsigned char> value;
};

Input decode(const std::uint8_t* data, std::size_t size) {
  Input input;
  if (size == 0) return input;
  input.type = data[0];
  input.stored = data[0] != kNoValue;
  std::size_t pos = 1;
  if (pos < size) {
    const std::size_t homeSize = std::min<std::size_t>(data[pos], size - pos - 1);
    ++pos;
    // The home directory comes from readRegistryText, so it never holds a NUL.
    const std::string_view home(reinterpret_cast<const char*>(data) + pos, homeSize);
    input.homeDir = std::string(home.substr(0, home.find('\0')));
    pos += homeSize;
  }
  input.value.assign(data + pos, data + size);
  return input;
}

void checkEntries(const Input& input, const ServiceList& list) {
  const std::string prefix = "\"" + input.homeDir + "\\";
  for (std::size_t i = 0; i < list.size(); ++i) {
    const ServiceEntry& entry = list.at(i);
    const std::string& path = entry.binaryPath;
    require(path.size() >= prefix.size() + 1 && path.compare(0, prefix.size(), prefix) == 0 &&
                path.back() == '"',
            "binary path is not the quoted program file under the home directory");
    const std::string_view program(path.data() + prefix.size(), path.size() - prefix.size() - 1);
    require(program.find(',') == std::string_view::npos, "program file holds a comma");
    require(entry.serviceName.find(',') == std::string::npos, "service name holds a comma");
    for (const std::string* text : {&path, &entry.serviceName, &entry.displayName}) {
      require(text->find('\0') == std::string::npos, "entry text holds a NUL byte");
      require(text->size() <= input.value.size() + prefix.size() + 1, "entry text too long");
    }
  }
}

}  // namespace
}  // namespace vdksvc::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vdksvc;
  using namespace vdksvc::fuzz;
  const Input input = decode(data, size);

  SimulatedPlatform sim;
  sim.addKey(kProductKey);
  if (input.stored) sim.setValue(kProductKey, "ServicesList", input.type, input.value);

  ServiceList list;
  const bool loaded = loadRegistryCatalogue(sim, input.homeDir, list);
  require(sim.openResources().empty(), "loadRegistryCatalogue left a key open");
  require(!loaded || list.size() > 0, "catalogue succeeded without an entry");
  require(input.stored || (!loaded && list.size() == 0), "missing value gave entries");
  require(!input.value.empty() || !loaded, "empty value gave a catalogue");
  checkEntries(input, list);

  // The single-value reads meet the same raw bytes.
  std::string text;
  if (readRegistryText(sim, kProductKey, "ServicesList", text)) {
    require(input.stored, "text read from a missing value");
    require(text.find('\0') == std::string::npos, "text holds a NUL byte");
    const std::string stored(input.value.begin(), input.value.end());
    require(stored.compare(0, text.size(), text) == 0 && text.size() <= stored.size(),
            "text is not the start of the stored bytes");
  }
  require(sim.openResources().empty(), "readRegistryText left a key open");

  Dword number = 0;
  const bool numberRead = readRegistryNumber(sim, kProductKey, "ServicesList", number);
  require(numberRead == (input.stored && input.value.size() <= 4),
          "a number is read exactly when the value fits in 4 bytes");
  require(sim.openResources().empty(), "readRegistryNumber left a key open");
  return 0;
}
