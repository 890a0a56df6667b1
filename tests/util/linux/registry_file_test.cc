// The parse of the Linux registry file on its own: how header paths and value types that no
// import could store read.

#include "util/linux/registry_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace halvorn::registry_platform {
namespace {

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";

std::optional<Keys> ParseBody(const std::string& body) {
  return ParseRegistryFile(kHeader + body);
}

// The keys a file makes, by path.
std::vector<std::string> KeyPaths(const Keys& keys) {
  std::vector<std::string> paths;
  for (const auto& [path, values] : keys) {
    paths.push_back(path);
  }
  return paths;
}

// Found by the registry_file fuzzer (kept in fuzz/regressions/registry_file/): a header with
// an empty level made a key with an empty path, above every other key.
TEST(RegistryFileTest, KeyHeaderWithAnEmptyLevelNamesNoKey) {
  struct Case {
    const char* header;
  } cases[] = {
      {"[HKEY_LOCAL_MACHINE\\\\SOFTWARE\\Brevane]"},
      {"[HKLM\\SOFTWARE\\\\Brevane]"},
      {"[HKLM\\\\]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    auto keys = ParseBody(std::string("[HKLM\\SOFTWARE\\Kept]\r\n\"A\"=dword:00000001\r\n") +
                          c.header + "\r\n\"IsDisableVerify\"=dword:00000001\r\n");
    ASSERT_TRUE(keys.has_value());  // the rest of the file still counts
    EXPECT_EQ(KeyPaths(*keys), (std::vector<std::string>{"software", "software\\kept"}));
  }
}

TEST(RegistryFileTest, DeletionHeaderWithAnEmptyLevelDeletesNothing) {
  auto keys = ParseBody(
      "[HKLM\\SOFTWARE\\Brevane]\r\n\"IsDisableVerify\"=dword:00000001\r\n"
      "[-HKLM\\\\SOFTWARE]\r\n");
  ASSERT_TRUE(keys.has_value());
  ASSERT_EQ(keys->count("software\\brevane"), 1u);
  EXPECT_EQ(keys->at("software\\brevane").count("isdisableverify"), 1u);
}

// A type is a 32-bit number: every one can be stored, none stands for a deletion, and a
// longer one does not wrap to a type it is not.
TEST(RegistryFileTest, ValueTypesAreThirtyTwoBitNumbers) {
  struct Case {
    const char* data;
    std::optional<std::uint32_t> type;  // nullopt: the file does not parse
  } cases[] = {
      {"hex(ffffffff):01", 0xFFFFFFFFu},   {"hex(4):01,00,00,00", 4u},
      {"hex(00000004):01,00,00,00", 4u},   {"hex(100000004):01,00,00,00", std::nullopt},
      {"hex(1ffffffff):01", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data);
    auto keys = ParseBody(std::string("[HKLM\\SOFTWARE\\Brevane]\r\n\"V\"=dword:00000007\r\n"
                                      "\"V\"=") +
                          c.data + "\r\n");
    ASSERT_EQ(keys.has_value(), c.type.has_value());
    if (!keys) {
      continue;
    }
    const Values& values = keys->at("software\\brevane");
    ASSERT_EQ(values.count("v"), 1u);  // replaced, not deleted
    EXPECT_EQ(values.at("v").type, *c.type);
    EXPECT_EQ(values.at("v").data.front(), 0x01);
  }
}

TEST(RegistryFileTest, ValueDeletionStillRemovesTheValue) {
  auto keys = ParseBody("[HKLM\\SOFTWARE\\Brevane]\r\n\"V\"=dword:00000007\r\n\"V\"=-\r\n");
  ASSERT_TRUE(keys.has_value());
  EXPECT_EQ(keys->at("software\\brevane").count("v"), 0u);
}

}  // namespace
}  // namespace halvorn::registry_platform
