#pragma once

#include "lists/service_list.h"
#include "log/step_log.h"
#include "platform/platform.h"

namespace vdksvc {

/// Appends the entries of the list file at \a path (lines "binary path, service
/// name, display name"; '#' as first byte marks a comment). True when at least one
/// entry was added; false when the file cannot be opened or has no valid line.
///
/// A file is ANSI text, read as msvcrt's text mode reads it (CR LF is a line
/// end like LF, and a Ctrl-Z ends the text), unless it begins with a byte-order
/// mark, as Windows' own tools write them: after the UTF-8 or the UTF-16
/// little-endian mark, each line is converted to the ANSI code page first, and a
/// line holding a character that code page lacks, or bytes that are not UTF-8,
/// is skipped (the step log names it). Where the ANSI code page is UTF-8, lines
/// are split without the Shift_JIS rules, which would take the bytes of UTF-8
/// characters for the first halves of double-byte ones.
bool loadListFile(Platform& platform, const char* path, ServiceList& list,
                  StepLog& log = StepLog::off());

}  // namespace vdksvc
