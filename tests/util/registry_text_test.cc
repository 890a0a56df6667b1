// The ".reg" text parse on its own, with plain strings: how header paths and value types that
// no import could store read, the two encodings of an export, and the look-up of keys and
// values as the registry backends answer them.

#include "util/registry_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace halvorn::registry_text {
namespace {

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";

std::optional<Keys> ParseBody(const std::string& body) {
  return ParseRegistryText(kHeader + body);
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
TEST(RegistryTextTest, KeyHeaderWithAnEmptyLevelNamesNoKey) {
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

TEST(RegistryTextTest, DeletionHeaderWithAnEmptyLevelDeletesNothing) {
  auto keys = ParseBody(
      "[HKLM\\SOFTWARE\\Brevane]\r\n\"IsDisableVerify\"=dword:00000001\r\n"
      "[-HKLM\\\\SOFTWARE]\r\n");
  ASSERT_TRUE(keys.has_value());
  ASSERT_EQ(keys->count("software\\brevane"), 1u);
  EXPECT_EQ(keys->at("software\\brevane").count("isdisableverify"), 1u);
}

// A type is a 32-bit number: every one can be stored, none stands for a deletion, and a
// longer one does not wrap to a type it is not.
TEST(RegistryTextTest, ValueTypesAreThirtyTwoBitNumbers) {
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

TEST(RegistryTextTest, ValueDeletionStillRemovesTheValue) {
  auto keys = ParseBody("[HKLM\\SOFTWARE\\Brevane]\r\n\"V\"=dword:00000007\r\n\"V\"=-\r\n");
  ASSERT_TRUE(keys.has_value());
  EXPECT_EQ(keys->at("software\\brevane").count("v"), 0u);
}

// An export comes as UTF-16LE with its byte-order mark (regedit) or as UTF-8 with or without
// one; all three read alike, a text outside the basic plane included.
TEST(RegistryTextTest, TheEncodingsOfAnExportReadAlike) {
  const std::string text = std::string(kHeader) +
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Br\xC3\xA9vane]\r\n"
                           "\"IsDisableVerify\"=dword:00000001\r\n"
                           "\"Name\"=\"a\xF0\x9F\x98\x80\"\r\n";
  std::vector<std::uint8_t> utf16 = {0xFF, 0xFE};
  // ASCII and U+00E9 are one unit each, U+1F600 the pair D83D DE00.
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == 0xC3) {
      utf16.insert(utf16.end(), {0xE9, 0x00});
      ++i;
    } else if (c == 0xF0) {
      utf16.insert(utf16.end(), {0x3D, 0xD8, 0x00, 0xDE});
      i += 3;
    } else {
      utf16.insert(utf16.end(), {c, 0x00});
    }
  }
  const auto plain = ParseRegistryText(text);
  const auto with_mark = ParseRegistryText("\xEF\xBB\xBF" + text);
  const auto wide = ParseRegistryText(std::string(utf16.begin(), utf16.end()));
  ASSERT_TRUE(plain.has_value());
  ASSERT_TRUE(with_mark.has_value());
  ASSERT_TRUE(wide.has_value());
  EXPECT_EQ(KeyPaths(*plain), (std::vector<std::string>{"software", "software\\br\xC3\xA9vane"}));
  for (const auto* keys : {&*with_mark, &*wide}) {
    ASSERT_EQ(KeyPaths(*keys), KeyPaths(*plain));
    const Values& values = keys->at("software\\br\xC3\xA9vane");
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values.at("isdisableverify").data,
              plain->at("software\\br\xC3\xA9vane").at("isdisableverify").data);
    EXPECT_EQ(values.at("name").data, plain->at("software\\br\xC3\xA9vane").at("name").data);
  }
  // A string is stored as the registry stores it: UTF-16LE with its terminator.
  const Value& name = plain->at("software\\br\xC3\xA9vane").at("name");
  EXPECT_EQ(name.type, 1u);
  EXPECT_EQ(name.data, (std::vector<std::uint8_t>{0x61, 0x00, 0x3D, 0xD8, 0x00, 0xDE, 0x00, 0x00}));
}

TEST(RegistryTextTest, DamagedTextIsNoRegistry) {
  struct Case {
    const char* name;
    std::string text;
  } cases[] = {
      {"empty", ""},
      {"no version line", "[HKLM\\SOFTWARE\\Brevane]\r\n"},
      {"value before any key", std::string(kHeader) + "\"V\"=dword:00000001\r\n"},
      {"unclosed header", std::string(kHeader) + "[HKLM\\SOFTWARE\r\n"},
      {"dword too long", std::string(kHeader) + "[HKLM\\S]\r\n\"V\"=dword:000000001\r\n"},
      {"unterminated name", std::string(kHeader) + "[HKLM\\S]\r\n\"V=dword:00000001\r\n"},
      {"three hex digits", std::string(kHeader) + "[HKLM\\S]\r\n\"V\"=hex:012\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(ParseRegistryText(c.text).has_value());
  }
  // A lone UTF-16 byte at the end is no unit; the text before it still reads.
  std::string odd = "\xFF\xFE";
  for (char c : std::string(kHeader)) {
    odd += {c, '\0'};
  }
  EXPECT_TRUE(ParseRegistryText(odd + "X").has_value());
}

// The look-up the registry backends answer with: names compare without regard to ASCII case,
// a key path may end in backslashes, and a level above a written key is a key too.
TEST(RegistryTextTest, KeysAndValuesAreFoundAsTheRegistryFindsThem) {
  auto keys = ParseBody(
      "[HKLM\\SOFTWARE\\Tessary Wireless Inc\\Brevane]\r\n"
      "\"IsDisableVerify\"=dword:00000001\r\n");
  ASSERT_TRUE(keys.has_value());
  struct Case {
    const char* sub_key;
    bool found;
  } cases[] = {
      {"SOFTWARE\\Tessary Wireless Inc\\Brevane", true},
      {"software\\TESSARY WIRELESS INC\\brevane\\\\", true},
      {"SOFTWARE\\Tessary Wireless Inc", true},
      {"SOFTWARE\\Tessary Wireless Inc\\Brevane\\Sub", false},
      {"SOFTWARE\\Tessary", false},
      {"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sub_key);
    EXPECT_EQ(FindKey(*keys, c.sub_key) != nullptr, c.found);
  }
  const Values* brevane = FindKey(*keys, "SOFTWARE\\Tessary Wireless Inc\\Brevane");
  ASSERT_NE(brevane, nullptr);
  const Value* value = FindValue(*brevane, "isdisableVERIFY");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->type, 4u);
  EXPECT_EQ(value->data, (std::vector<std::uint8_t>{1, 0, 0, 0}));
  EXPECT_EQ(FindValue(*brevane, "IsDisable"), nullptr);
  EXPECT_TRUE(FindKey(*keys, "SOFTWARE\\Tessary Wireless Inc")->empty());
}

}  // namespace
}  // namespace halvorn::registry_text
