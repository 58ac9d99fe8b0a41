// Folders and files of a test's own, under GoogleTest's temporary folder.
#ifndef KORVELAN380_TESTS_SUPPORT_TEMP_FOLDER_H
#define KORVELAN380_TESTS_SUPPORT_TEMP_FOLDER_H

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace korvelan380::test {

// An empty folder `name` under the temporary folder: whatever an earlier run left there is
// removed first.
std::filesystem::path FreshTempFolder(const std::string& name);

// A whole file's bytes, as they are; "" when it cannot be read.
std::string ReadText(const std::filesystem::path& path);
void WriteText(const std::filesystem::path& path, const std::string& text);

// A fixture with a folder of the test's own, korvelan380_SUITE_TEST, removed after the test.
class TempFolderTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string ReadFile(const std::string& name) const { return ReadText(dir_ / name); }
  void WriteFile(const std::string& name, const std::string& content) const {
    WriteText(dir_ / name, content);
  }

  std::filesystem::path dir_;
};

}  // namespace korvelan380::test

#endif  // KORVELAN380_TESTS_SUPPORT_TEMP_FOLDER_H
