#pragma once
// What -query writes: a header and one row per entry of the list, as aligned
// columns for the administrator or as comma-separated values for scripts
// (PowerShell's ConvertFrom-Csv).

#include <vector>

#include "base/text_output.h"
#include "lists/service_list.h"
#include "services/service_query.h"

namespace vdksvc {

/// How -query writes what it read: aligned columns, or comma-separated values.
enum class ReportFormat { kTable, kCsv };

/// Writes the report of \a list's entries, whose services read as \a reports
/// (one per entry, in list order), to \a output in \a format.
void writeServiceReport(TextOutput& output, ReportFormat format, const ServiceList& list,
                        const std::vector<ServiceReport>& reports);

}  // namespace vdksvc
