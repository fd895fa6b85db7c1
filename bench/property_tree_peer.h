#pragma once

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>

#include "base/text.h"

namespace bench {

/// The peer of the state files' loads: boost property_tree alone reading
/// the file's UTF-8 bytes into a wide tree, as the state files are read.
/// Returns the milliseconds it took.
inline double readWithPropertyTree(const std::string& file, boost::property_tree::wptree& tree) {
    const auto start = std::chrono::steady_clock::now();
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    std::wistringstream xml(base::fromUtf8(bytes.str()));
    boost::property_tree::read_xml(xml, tree);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace bench
