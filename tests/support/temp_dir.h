#pragma once

#include <string>

namespace testing_support {

/// A fresh folder under the system's temporary folder, removed with its content.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "sonvar-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::wstring widePath() const;

private:
    std::string m_path;
};

/// The whole content of a file as bytes; empty when it cannot be read.
std::string readFile(const std::string& path);

}  // namespace testing_support
