#pragma once
// Operands of the "startup" command: triples of -auto|-demand|-disabled, service
// name and display name.

#include "lists/service_list.h"
#include "platform/platform.h"

namespace vdksvc {

/// Reads triples from argv[2] on until one is not a start-type option; each
/// accepted triple replaces the list's entry, so at most one entry remains.
/// Before the first triple and after an accepted one, -e may stand: it sets
/// \a outcomeStatus, when given. Lowers the option words in place. Always true.
bool parseStartTypeOperands(Platform& platform, int argc, char** argv, ServiceList& list,
                            bool* outcomeStatus = nullptr);

}  // namespace vdksvc
