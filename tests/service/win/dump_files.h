// Test support: the crash dumps in a folder and what each must look like.

#ifndef HALVORN_TESTS_SERVICE_WIN_DUMP_FILES_H_
#define HALVORN_TESTS_SERVICE_WIN_DUMP_FILES_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <system_error>
#include <vector>

namespace halvorn::testing {

inline std::vector<std::filesystem::path> Dumps(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> dumps;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (entry.path().extension() == ".dmp") {
      dumps.push_back(entry.path());
    }
  }
  return dumps;
}

// `count` dumps, each named by its own GUID in upper-case hexadecimal, each a minidump.
inline void ExpectGuidNamedMinidumps(const std::filesystem::path& folder, std::size_t count) {
  static const std::regex kGuidName(
      R"([0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\.dmp)");
  const std::vector<std::filesystem::path> dumps = Dumps(folder);
  ASSERT_EQ(dumps.size(), count);
  for (std::size_t i = 0; i < dumps.size(); ++i) {
    const std::string name = dumps[i].filename().string();
    EXPECT_TRUE(std::regex_match(name, kGuidName)) << name;
    for (std::size_t j = 0; j < i; ++j) {
      EXPECT_NE(dumps[j].filename(), dumps[i].filename());
    }
    std::ifstream in(dumps[i], std::ios::binary);
    char signature[4] = {};
    in.read(signature, sizeof signature);
    EXPECT_EQ(std::string(signature, 4), "MDMP") << name;
  }
}

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_SERVICE_WIN_DUMP_FILES_H_
