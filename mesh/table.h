#pragma once
// The measurements of every object of a run with --objects: one CSV row each (--table), and the
// same rows as JSON objects in the report.
#include <cstdint>
#include <string>
#include <vector>

#include "mesh/report.h"

namespace voxwrap {

// ObjectRow, one object's row, and MeasureObject are public: voxwrap/voxwrap.h.

// The CSV header, one row per object in the order given, every line ending in "\n". Numbers are
// the shortest decimals that read back as the same doubles.
std::string TableCsv(const std::vector<ObjectRow>& rows);

// The report of a run with --objects: the stack fields of ReportJson, then "objects", the rows
// with the CSV's column names as keys.
std::string ObjectsReportJson(const ReportInput& in, const std::vector<ObjectRow>& rows);

}  // namespace voxwrap
