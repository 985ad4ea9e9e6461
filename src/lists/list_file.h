#pragma once

#include "lists/service_list.h"

namespace vdksvc {

/// Appends the entries of the list file at \a path (lines "binary path, service
/// name, display name"; '#' as first byte marks a comment). True when at least one
/// entry was added; false when the file cannot be opened or has no valid line.
bool loadListFile(const char* path, ServiceList& list);

}  // namespace vdksvc
