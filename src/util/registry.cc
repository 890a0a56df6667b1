#include "util/registry.h"

#include <memory>
#include <vector>

#include "util/log_helper.h"
#include "util/platform.h"
#include "util/registry_platform.h"

namespace halvorn {

std::uint8_t ReadDWORDRegValue(const wchar_t* sub_key, const wchar_t* value_name) {
  constexpr const char* kTag = "ReadDWORDRegValue";
  namespace rp = registry_platform;
  LogHelper::TraceEnter(kTag);
  const std::wstring key_path = sub_key != nullptr ? sub_key : L"";
  const std::wstring name = value_name != nullptr ? value_name : L"";
  LogHelper::Print(LogInfo, kTag, "hKeyRoot = 0x%x ; subKey = %ws ;key = %ws ",
                   static_cast<std::uint32_t>(rp::kLocalMachineHandle), key_path, name);

  std::uint8_t result = 0;
  std::unique_ptr<rp::Key> key;
  if (rp::OpenLocalMachineKey(key_path, &key) != 0 || !key) {
    LogHelper::Print(LogError, kTag, "RegOpenKeyEx FAIL ,ERROR code = %d", platform::LastError());
    LogHelper::TraceLeave(kTag);
    return 0;
  }

  std::uint32_t type = rp::kRegDword;
  std::uint32_t size = 0;
  if (key->Query(name, &type, nullptr, &size) != 0) {
    LogHelper::Print(LogError, kTag, "RegQueryValueEx FAIL ,ERROR code = %d",
                     platform::LastError());
  } else if (type == rp::kRegDword && size != 0) {
    std::vector<std::uint8_t> data(size);
    key->Query(name, &type, data.data(), &size);
    result = data[0];
    LogHelper::Print(LogError, kTag, "RegQueryValueEx success, ret = %d", result);
  } else {
    LogHelper::Print(LogError, kTag,
                     "RegQueryValueEx success,but dwType ==  REG_DWORD %d ;cbData = %d,ERROR "
                     "code = %d",
                     type == rp::kRegDword ? 1 : 0, size, platform::LastError());
  }
  key.reset();
  LogHelper::TraceLeave(kTag);
  return result;
}

}  // namespace halvorn
