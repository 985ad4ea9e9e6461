#pragma once
// The services a run acts on: one record per service, kept in the order they
// were given, which is the order the command is applied in.

#include <cstddef>
#include <deque>
#include <string>

namespace vdksvc {

/// One service to act on. Texts are 8-bit text in the ANSI code page.
struct ServiceEntry {
  std::string binaryPath;   ///< service command line, as the manager stores it
  std::string serviceName;  ///< key name in the service control manager
  std::string displayName;
  std::string startTypeWord;  ///< "auto", "demand" or "disabled" (startup only)
};

/// Ordered list of entries; duplicates are kept and processed as often as they occur.
class ServiceList {
 public:
  /// Appends an entry for the service commands; a null text counts as empty.
  void addEntry(const char* binaryPath, const char* serviceName, const char* displayName);
  /// Appends an entry for the service commands, taking over the texts.
  void addEntry(std::string binaryPath, std::string serviceName, std::string displayName);
  /// Appends an entry for the start-type command (no binary path).
  void addStartTypeEntry(const char* startTypeWord, const char* serviceName,
                         const char* displayName);
  void clear() { entries_.clear(); }
  std::size_t size() const { return entries_.size(); }
  /// \a index must be below size().
  const ServiceEntry& at(std::size_t index) const { return entries_.at(index); }

 private:
  std::deque<ServiceEntry> entries_;
};

}  // namespace vdksvc
