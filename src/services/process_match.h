#pragma once
// Which running processes are the list's programs: the image name a binary path
// runs under, the processes of the snapshot that carry one, and the check that
// such a process runs a program of the list and not another file of that name,
// told apart by file identity.

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "lists/service_list.h"
#include "platform/platform.h"
#include "services/sweep_log.h"

namespace vdksvc {

/// The program file name that a process of \a binaryPath runs under: the text
/// after the last backslash (found character by character in the ANSI code page,
/// so the second byte of a double-byte character is never taken for one), without
/// its trailing and then its leading double quotes. A quoted path followed by
/// arguments keeps them, and so matches no process.
std::string imageNameOf(Platform& platform, const std::string& binaryPath);

/// The entries of each image name, folded to ASCII lower case.
using ImageNames = std::unordered_map<std::string, std::vector<const ServiceEntry*>>;

/// The image names of \a list's entries; a name that cannot be a file name
/// (empty) is left out, as no process has it.
ImageNames imageNamesOf(Platform& platform, const ServiceList& list);

/// A process whose image name is that of entries of the list.
struct Candidate {
  Dword id = 0;
  std::string exeFile;  ///< szExeFile, as the snapshot gave it
  const std::vector<const ServiceEntry*>* entries = nullptr;  ///< the entries of that name
};

/// The processes running one of \a names, without regard to ASCII case, in
/// snapshot order, each once. One look-up per process, so the matching grows
/// with the processes plus the entries.
std::vector<Candidate> matchingProcesses(Platform& platform, const ImageNames& names,
                                         SweepLog& log);

/// What tells one file from another, whatever path names it: the volume's
/// serial number and the 128-bit file id, or where the file system or Windows
/// does not give one, the 64-bit file index (which ReFS does not keep unique).
/// A file id of zero is no identity: it is taken for one that cannot be read.
struct FileIdentity {
  std::uint64_t volume = 0;
  unsigned char id[16] = {};
  bool wide = false;  ///< the 128-bit id
  bool operator==(const FileIdentity&) const = default;
};

/// Tells whether matched processes run a program of the list, reading each
/// entry's program file once.
class ProgramCheck {
 public:
  ProgramCheck(Platform& platform, SweepLog& log) : platform_(platform), log_(log) {}

  /// True unless the process runs another program than its entries': its id
  /// went to another program since the snapshot, or its file lies elsewhere
  /// than the program of every entry that names a directory. \a process is
  /// the candidate's, opened to look at it.
  bool runsListedProgram(RawHandle process, const Candidate& candidate);

 private:
  /// The image path of an opened process; nothing when it cannot be read.
  std::optional<std::string> imagePathOf(RawHandle process);
  std::optional<FileIdentity> programIdentityOf(const std::string& program);

  Platform& platform_;
  SweepLog& log_;
  std::string buffer_;
  std::unordered_map<std::string, std::optional<FileIdentity>> programs_;
};

}  // namespace vdksvc
