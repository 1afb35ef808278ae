#pragma once

#include <string>
#include <vector>

namespace vantari {

// The accounting program's table files: 33 table names, each with any extension, directly in
// the data folder.

// The masks of every table in folder, in packing order ("<folder>/AssemblyItem.*", ...).
std::vector<std::string> DataTableMasks(const std::string &folder);
// Whether a bare file name (no folder) is one of the tables' files, without regard to case.
bool IsDataTableFile(const std::string &name);

} // namespace vantari
