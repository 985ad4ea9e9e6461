#include "wine_differences.h"

#include "e2e_support.h"

namespace vdksvc::e2e {
namespace {

bool underWine() { return wineVersion() != nullptr; }

/// The names of a double-NUL-terminated list.
std::vector<std::string> namesOf(const char* list) {
  std::vector<std::string> names;
  for (const char* name = list; name != nullptr && *name != '\0'; name += names.back().size() + 1) {
    names.emplace_back(name);
  }
  return names;
}

std::vector<std::string> dependenciesFromTheManager(const std::string& name) {
  const ScmHandle service = openService(name);
  DWORD needed = 0;
  if (!service) return {};
  ::QueryServiceConfigA(service.get(), nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed == 0 ? 1 : needed);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  if (needed == 0 || !::QueryServiceConfigA(service.get(), config, needed, &needed)) return {};
  return namesOf(config->lpDependencies);
}

std::vector<std::string> firstDependencyFromTheRegistry(const std::string& name) {
  HKEY key = nullptr;
  const std::string path = "SYSTEM\\CurrentControlSet\\Services\\" + name;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return {};
  }
  std::vector<std::string> first;
  DWORD size = 0;
  if (::RegQueryValueExA(key, "DependOnService", nullptr, nullptr, nullptr, &size) ==
      ERROR_SUCCESS) {
    std::vector<char> block(size + 2, '\0');
    if (::RegQueryValueExA(key, "DependOnService", nullptr, nullptr,
                           reinterpret_cast<BYTE*>(block.data()), &size) == ERROR_SUCCESS &&
        block[0] != '\0') {
      first.emplace_back(block.data());
    }
  }
  ::RegCloseKey(key);
  return first;
}

}  // namespace

const char* wineVersion() {
  using GetVersion = const char*(__cdecl*)();
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  if (ntdll == nullptr) return nullptr;
  // Through void*: a FARPROC cast straight to another function type draws a warning.
  void* const found = reinterpret_cast<void*>(::GetProcAddress(ntdll, "wine_get_version"));
  return found != nullptr ? reinterpret_cast<GetVersion>(found)() : nullptr;
}

std::vector<std::string> storedDependencies(const std::string& name) {
  return underWine() ? firstDependencyFromTheRegistry(name) : dependenciesFromTheManager(name);
}

bool managerStartsDependencies() { return !underWine(); }

bool changeConfigKeepsDependencies() { return !underWine(); }

bool terminatedServiceReportsStopped() { return !underWine(); }

const char* processSecurityNotEnforced() {
  return underWine() ? "Wine enforces no process security: any process may end any other, "
                       "so the debug privilege changes nothing here"
                     : nullptr;
}

const char* serviceSecurityNotEnforced() {
  return underWine() ? "Wine's service manager grants every right to every token, so a token "
                       "without the rights cannot be refused here"
                     : nullptr;
}

DWORD controlRefusalWhileStarting() {
  return underWine() ? ERROR_INVALID_SERVICE_CONTROL : ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
}

DWORD snapshotEntrySizeError() {
  return underWine() ? ERROR_INSUFFICIENT_BUFFER : ERROR_BAD_LENGTH;
}

}  // namespace vdksvc::e2e
