#pragma once

#include <string>

namespace frm {

/// The compiler's date text ("May 26 2023", "May  6 2023") as the about box
/// shows it: "26.05.2023". A month word other than the twelve English
/// abbreviations is logged (WARN) and shown as month 00.
std::wstring formatBuildDate(const std::string& compilerDate);

/// The date this program was built, formatted as above.
std::wstring getBuildDate();

}  // namespace frm
