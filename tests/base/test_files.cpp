#include <gtest/gtest.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <cstdio>

#include "base/exception.h"
#include "base/files.h"
#include "base/text.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = boost::filesystem;
using testing_support::TempDir;

void touch(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    std::fclose(std::fopen(path.c_str(), "wb"));
}

std::vector<std::wstring> names(std::vector<std::wstring> paths, const std::wstring& root) {
    for (auto& p : paths) p.erase(0, root.size() + 1);
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::wstring notificationOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const exception::ExternalError& e) {
        return e.getNotification();
    }
    return L"nothing raised";
}

}  // namespace

TEST(WholeFiles, BytesRoundTripExactlyAndFailuresRaise) {
    TempDir dir;
    const std::wstring file = dir.widePath() + L"/образ.bin";
    std::string bytes;
    for (int i = 0; i < 4096; ++i) bytes += static_cast<char>(i * 7 % 256);
    bytes += "\r\n\n\x1A";  // no line-end translation, no end-of-file byte
    EXPECT_TRUE(base::writeFile(file, bytes));
    EXPECT_EQ(base::readFile(file), bytes);

    EXPECT_TRUE(base::writeFile(file, ""));
    EXPECT_EQ(fs::file_size(base::toUtf8(file)), 0u);
    EXPECT_EQ(base::readFile(file), "");

    EXPECT_EQ(notificationOf([&] { base::readFile(dir.widePath() + L"/absent.bin"); }),
              L"Получен неверный путь для чтения");
    EXPECT_EQ(notificationOf([&] { base::writeFile(dir.widePath() + L"/absent/x.bin", "x"); }),
              L"Получен неверный путь для записи");
}

TEST(WholeFiles, ReplaceLeavesNoTemporaryAndKeepsTheOldFileOnFailure) {
    TempDir dir;
    const std::wstring file = dir.widePath() + L"/sonvar.cfg";
    std::string error;
    ASSERT_TRUE(base::replaceFile(file, "old", error)) << error;
    ASSERT_TRUE(base::replaceFile(file, "new", error)) << error;
    EXPECT_EQ(base::readFile(file), "new");
    EXPECT_FALSE(fs::exists(base::toUtf8(file) + ".tmp"));

    // The temporary name is taken by a folder: nothing can be written.
    fs::create_directory(base::toUtf8(file) + ".tmp");
    EXPECT_FALSE(base::replaceFile(file, "lost", error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(base::readFile(file), "new");
}

TEST(FilesByMask, ListsByExtensionWithoutCaseAndSkipsHidden) {
    TempDir dir;
    const std::wstring root = dir.widePath();
    for (const char* name :
         {"A.MP3", "b.mp3", "c.mp30", "d.wav", ".hidden.mp3", "sub/e.mp3", ".cache/f.mp3", "Гонг.Mp3"})
        touch(dir.path() + "/" + name);

    using List = std::vector<std::wstring>;
    EXPECT_EQ(names(getFilesByMask(false, root, L"*.mp3;"), root), (List{L"A.MP3", L"b.mp3", L"Гонг.Mp3"}));
    EXPECT_EQ(names(getFilesByMask(true, root, L"*.mp3"), root),
              (List{L"A.MP3", L"b.mp3", L"sub/e.mp3", L"Гонг.Mp3"}));
    const List every{L"A.MP3", L"b.mp3", L"c.mp30", L"d.wav", L"Гонг.Mp3"};
    EXPECT_EQ(names(getFilesByMask(false, root, L"mp3"), root), every)
        << "a mask without a point matches all";
    // Not only the first file: every file of the folder.
    EXPECT_EQ(names(getFilesByMask(false, root, L"*"), root), every);
    EXPECT_EQ(names(getFilesByMask(false, root, L""), root), every);
    EXPECT_TRUE(getFilesByMask(true, root + L"/absent", L"*.mp3").empty());

    // Each folder's files come before its sub-folders'.
    const auto recursive = getFilesByMask(true, root, L"*");
    ASSERT_FALSE(recursive.empty());
    EXPECT_EQ(recursive.back(), root + L"/sub/e.mp3");
}

TEST(FilePaths, NamesAndFilesFoundAgainInAnotherFolder) {
    EXPECT_EQ(getFileName(L"/data/gong.mp3"), L"gong.mp3");
    EXPECT_EQ(getFileName(L"/data/gong.mp3", true), L"gong");
    EXPECT_EQ(getFileName(L"/data.old/gong", true), L"gong");

    TempDir dir;
    touch(dir.path() + "/new/сообщение.mp3");
    const std::wstring folder = dir.widePath() + L"/new";
    std::wstring path = dir.widePath() + L"/old/сообщение.mp3";
    EXPECT_TRUE(makeAbsolutePath(path, folder));
    EXPECT_EQ(path, folder + L"/сообщение.mp3");
    EXPECT_TRUE(makeAbsolutePath(path, L"/elsewhere")) << "an existing file stays where it is";
    EXPECT_EQ(path, folder + L"/сообщение.mp3");

    std::wstring missing = dir.widePath() + L"/old/absent.mp3";
    const std::wstring before = missing;
    EXPECT_FALSE(makeAbsolutePath(missing, folder));
    EXPECT_EQ(missing, before);
    std::wstring empty;
    EXPECT_FALSE(makeAbsolutePath(empty, folder));
}
