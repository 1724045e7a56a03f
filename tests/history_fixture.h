#pragma once

// A fresh folder for each test, the history file's path in it, and ways to write and read it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace trelvane::testing {

class HistoryFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() / ("trelvane-" + std::to_string(getpid()) + "-" +
                                                     test->test_suite_name() + "." + test->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "trelvane.txt").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Writes the lines, each ended by `end`; `append` adds them to the end instead.
  void Write(const std::vector<std::string>& lines, const std::string& end = "\r\n",
             bool append = false) const {
    std::ofstream out(path_, append ? std::ios::binary | std::ios::app : std::ios::binary);
    for (const std::string& line : lines) out << line << end;
  }
  std::string Contents() const {
    std::ostringstream contents;
    contents << std::ifstream(path_, std::ios::binary).rdbuf();
    return contents.str();
  }

  std::filesystem::path dir_;
  std::string path_;
};

}  // namespace trelvane::testing
