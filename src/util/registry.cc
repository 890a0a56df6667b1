#include "util/registry.h"

#include <memory>
#include <vector>

#include "util/log_helper.h"
#include "util/os_status.h"
#include "util/registry_platform.h"

namespace halvorn {

namespace {

// The root key's handle value (HKEY_LOCAL_MACHINE), which the parameter line prints.
constexpr std::uint32_t kLocalMachineHandle = 0x80000002;

}  // namespace

std::uint8_t ReadDWORDRegValue(RegistryPlatform& registry,
                               const wchar_t* sub_key,
                               const wchar_t* value_name) {
  constexpr const char* kTag = "ReadDWORDRegValue";
  namespace rp = registry_platform;
  LogHelper::TraceEnter(kTag);
  const std::wstring key_path = sub_key != nullptr ? sub_key : L"";
  const std::wstring name = value_name != nullptr ? value_name : L"";
  LogHelper::Print(LogInfo, kTag, "hKeyRoot = 0x%x ; subKey = %ws ;key = %ws ", kLocalMachineHandle,
                   key_path, name);

  std::uint8_t result = 0;
  std::unique_ptr<RegistryKey> key;
  const OsStatus opened = registry.OpenLocalMachineKey(key_path, &key);
  if (!opened.ok() || !key) {
    LogHelper::Print(LogError, kTag, "RegOpenKeyEx FAIL ,ERROR code = %d",
                     WindowsErrorCode(opened));
    LogHelper::TraceLeave(kTag);
    return 0;
  }

  std::uint32_t type = rp::kRegDword;
  std::uint32_t size = 0;
  const OsStatus queried = key->Query(name, &type, nullptr, &size);
  if (!queried.ok()) {
    LogHelper::Print(LogError, kTag, "RegQueryValueEx FAIL ,ERROR code = %d",
                     WindowsErrorCode(queried));
  } else if (type == rp::kRegDword && size != 0) {
    std::vector<std::uint8_t> data(size);
    key->Query(name, &type, data.data(), &size);
    result = data[0];
    LogHelper::Print(LogError, kTag, "RegQueryValueEx success, ret = %d", result);
  } else {
    LogHelper::Print(LogError, kTag,
                     "RegQueryValueEx success,but dwType ==  REG_DWORD %d ;cbData = %d,ERROR "
                     "code = %d",
                     type == rp::kRegDword ? 1 : 0, size, WindowsErrorCode(queried));
  }
  key.reset();
  LogHelper::TraceLeave(kTag);
  return result;
}

}  // namespace halvorn
