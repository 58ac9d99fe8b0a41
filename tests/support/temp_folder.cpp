#include "temp_folder.h"

#include <fstream>
#include <iterator>

namespace korvelan380::test {

namespace fs = std::filesystem;

fs::path FreshTempFolder(const std::string& name) {
  const fs::path dir = fs::path(::testing::TempDir()) / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

std::string ReadText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

void TempFolderTest::SetUp() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  // A parameterised test's names hold '/'.
  std::string name = std::string("korvelan380_") + info->test_suite_name() + "_" + info->name();
  for (char& c : name) c = c == '/' ? '_' : c;
  dir_ = FreshTempFolder(name);
}

void TempFolderTest::TearDown() {
  std::error_code ignored;  // a program the test started may still hold a file open (Windows)
  fs::remove_all(dir_, ignored);
}

}  // namespace korvelan380::test
