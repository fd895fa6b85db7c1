#pragma once

#include <boost/property_tree/ptree.hpp>
#include <string>

// The XML state files: a wide property tree written as one UTF-8 XML file
// and read back. The shapes of the trees belong to their owners; this is the
// encoding, the layout and the failure behaviour common to all of them.
// Called from the GUI thread (start-up and shutdown); no shared state.
namespace storage {

/// Writes the tree as "<?xml version=\"1.0\" encoding=\"utf-8\"?>", a line
/// feed and the elements without indentation. The old file is replaced only
/// by a complete, checked new one. A tree that cannot make a well-formed
/// document (no single root element, a key that is no XML name) is not
/// written; characters XML cannot hold are replaced by U+FFFD. Failures log
/// an ERROR and return: nothing is thrown, so a shutdown saving several files
/// goes on with the next one.
void save(const std::wstring& path, const boost::property_tree::wptree& tree);

/// Reads the file into the tree (replacing its content). False with an EXTERN
/// line when there is no file, with an ERROR line when it cannot be read. A
/// file that is not well-formed XML (or not UTF-8) is renamed to "<path>.bad"
/// with a WARN, so that it is neither lost nor saved over, and the result is
/// false with the tree untouched. An empty file gives true and an empty tree.
bool load(const std::wstring& path, boost::property_tree::wptree& tree);

/// Renames a file its owner cannot use to "<path>.bad" with a WARN naming
/// the reason (UTF-8), as load does for a damaged one: an owner whose file
/// reads as XML but lacks its root keeps it for the operator this way.
void setAside(const std::wstring& path, const std::string& reason);
/// What setAside tells the operator of a reason: the line of a parser error
/// ("ошибка в строке 2"), a missing root element or bytes that are no
/// UTF-8, in Russian; the reason itself goes to the log.
std::wstring damageForOperator(const std::string& reason);

}  // namespace storage
