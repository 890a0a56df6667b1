#include "util/common_util.h"

#include "util/log_helper.h"
#include "util/registry.h"

namespace halvorn::CommonUtil {

void ReadAllLogRegValue(RegistryPlatform& registry) {
  LogHelper::TraceEnter("CommonUtil::ReadAllLogRegValue");
  ReadDWORDRegValue(registry, L"SOFTWARE\\Tessary Wireless Inc\\Logs", L"IsAll");
  LogHelper::TraceLeave("CommonUtil::ReadAllLogRegValue");
}

}  // namespace halvorn::CommonUtil
