#include "tests/support/temp_dir.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include <boost/filesystem.hpp>

#include "base/text.h"

namespace testing_support {

TempDir::TempDir(const std::string& prefix) {
    const auto base = boost::filesystem::temp_directory_path() /
                      boost::filesystem::unique_path(prefix + "-%%%%-%%%%-%%%%");
    boost::filesystem::create_directories(base);
    m_path = base.string();
}

TempDir::~TempDir() {
    boost::system::error_code ignored;
    boost::filesystem::remove_all(m_path, ignored);
}

std::wstring TempDir::widePath() const { return base::fromUtf8(m_path); }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

}  // namespace testing_support
