#pragma once
// Operands of the service commands (all but "startup"): -c binary service display,
// -f listfile (repeatable), -t polls. Without c or f entries the product's registry
// catalogue is the list.

#include "lists/service_list.h"
#include "log/step_log.h"
#include "platform/platform.h"
#include "services/poll_limit.h"

namespace vdksvc {

/// Reads argv[2] onwards into \a list and \a pollLimit (written only by -t);
/// sets \a outcomeStatus, when given, if -e asks for the exit status that counts
/// the entries not done. False for any operand error; the run then ends with -1
/// and the list is moot. \a log hears where the list came from or why it was
/// refused.
bool parseServiceOperands(Platform& platform, int argc, char** argv, ServiceList& list,
                          PollLimit& pollLimit, bool* outcomeStatus = nullptr,
                          StepLog& log = StepLog::off());

/// Converts \a text as atol does (leading white space, optional sign, decimal digits
/// up to the first other byte; none gives 0), clamped to the signed 32-bit range,
/// and stores it reinterpreted as unsigned. A value of 0 stores 0 and gives false.
bool parsePollLimit(const char* text, PollLimit& pollLimit);

}  // namespace vdksvc
