// The access control list of the log folder's levels, read back from the system: made by
// start-up, each level carries its own protected list (SYSTEM and Administrators full control,
// Users read, passed on to what is made inside) and the log file inherits it.

#include <windows.h>
// After windows.h:
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/log_capture.h"
#include "util/log_folder_platform.h"
#include "util/log_helper.h"
#include "util/registry_platform.h"

namespace halvorn {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

struct Ace {
  std::string sid;  // "S-1-5-18"
  DWORD mask = 0;
  BYTE flags = 0;
};

struct Dacl {
  bool read = false;
  bool is_protected = false;
  std::vector<Ace> aces;  // allow entries only; any other kind fails the test
};

Dacl ReadDacl(const fs::path& path) {
  Dacl result;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::wstring name = path.wstring();
  if (::GetNamedSecurityInfoW(name.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return result;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  result.read =
      dacl != nullptr && ::GetSecurityDescriptorControl(descriptor, &control, &revision) != FALSE;
  result.is_protected = (control & SE_DACL_PROTECTED) != 0;
  for (DWORD i = 0; result.read && i < dacl->AceCount; ++i) {
    void* raw = nullptr;
    if (!::GetAce(dacl, i, &raw)) {
      result.read = false;
      break;
    }
    auto* header = static_cast<ACE_HEADER*>(raw);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
      result.read = false;
      break;
    }
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(raw);
    LPWSTR text = nullptr;
    Ace ace;
    if (::ConvertSidToStringSidW(&allowed->SidStart, &text)) {
      for (const wchar_t* p = text; *p != L'\0'; ++p) {
        ace.sid.push_back(static_cast<char>(*p));
      }
      ::LocalFree(text);
    }
    ace.mask = allowed->Mask;
    ace.flags = header->AceFlags;
    result.aces.push_back(ace);
  }
  ::LocalFree(descriptor);
  return result;
}

constexpr BYTE kPassedOn = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

void ExpectLogFolderList(const Dacl& dacl, BYTE inherited) {
  ASSERT_TRUE(dacl.read);
  ASSERT_EQ(dacl.aces.size(), 3u);
  const struct {
    const char* sid;
    DWORD mask;
  } expected[] = {{"S-1-5-18", FILE_ALL_ACCESS},
                  {"S-1-5-32-544", FILE_ALL_ACCESS},
                  {"S-1-5-32-545", FILE_GENERIC_READ}};
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(expected[i].sid);
    EXPECT_EQ(dacl.aces[i].sid, expected[i].sid);
    EXPECT_EQ(dacl.aces[i].mask, expected[i].mask);
    EXPECT_EQ(dacl.aces[i].flags & (kPassedOn | INHERITED_ACE), inherited);
  }
}

// Wine keeps no access control list of a file: it maps a given list to Unix mode bits and
// answers a list made from them. Only Windows shows what a folder carries.
bool UnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST(LogFolderAclWinTest, StartUpGivesEveryLevelItsOwnProtectedList) {
  if (UnderWine()) {
    GTEST_SKIP() << "Wine keeps no access control list of a file (it maps one to mode bits)";
  }
  TempDir root;
  testing::SetEnv("programdata", root.path().string());
  LogHelper::InitLogger(SystemRegistryPlatform(), SystemLogFolderPlatform());
  const std::string file = LogHelper::CurrentLogFilePath();
  LogHelper::Print(LogInfo, "t", "a line for the log");
  LogHelper::Shutdown();
  ASSERT_FALSE(file.empty());

  const fs::path company = root.path() / LogHelper::kCompanyFolder;
  const fs::path product = company / LogHelper::kProductFolder;
  for (const fs::path& level : {company, product, product / LogHelper::kLogSubFolder}) {
    SCOPED_TRACE(level.string());
    const Dacl dacl = ReadDacl(level);
    // Not inherited from the folder above, even where the level above has the same list.
    EXPECT_TRUE(dacl.is_protected);
    ExpectLogFolderList(dacl, kPassedOn);
  }
  // The log file takes the list of its folder, inherited.
  const Dacl dacl = ReadDacl(fs::u8path(file));
  EXPECT_FALSE(dacl.is_protected);
  ExpectLogFolderList(dacl, INHERITED_ACE);
}

}  // namespace
}  // namespace halvorn
