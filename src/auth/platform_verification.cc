#include "auth/platform_verification.h"

#include <algorithm>
#include <cstdint>

#include "auth/systeminfo.h"
#include "device/device_helper.h"
#include "util/log_helper.h"

namespace halvorn {
namespace {

constexpr const char* kVerifyTag = "CTaskAuthModule::VerifyPlatform";
constexpr const char* kSupportTag = "CTaskAuthModule::IsSupportModem";
constexpr const char* kParseTag = "CTaskAuthModule::parseDeviceHwid";

// Laptop models shorter than this borrow the Family string (some firmware keeps the model
// there and only a short code in Version).
constexpr std::size_t kMinVersionLength = 3;
constexpr std::size_t kHwidFieldLength = 4;

constexpr std::array<const char*, 2> kModemIds = {"7a3f0b41", "7a3f0b42"};

constexpr std::array<PlatformRow, kPlatformRowCount> kPlatformTable = {{
    {"ThinkPad X13 Gen 3", kModemIds},       {"VersaPro", kModemIds},
    {"ThinkPad X13 Gen 3a", kModemIds},      {"ThinkPad T14s Gen 3", kModemIds},
    {"ThinkPad T14s Gen 3a", kModemIds},     {"ThinkPad T14 Gen 3", kModemIds},
    {"ThinkPad P14s Gen 3", kModemIds},      {"ThinkPad T14 Gen 3a", kModemIds},
    {"ThinkPad T16 Gen 1", kModemIds},       {"ThinkPad P16s Gen 1", kModemIds},
    {"ThinkPad T16 Gen 1a", kModemIds},      {"ThinkPad P16s Gen 1a", kModemIds},
    {"ThinkPad Z13 Gen 1", kModemIds},       {"ThinkPad Z16 Gen 1", kModemIds},
    {"ThinkPad X13 Yoga Gen 3", kModemIds},  {"ThinkPad L13 Gen 3i", kModemIds},
    {"ThinkPad L13 Yoga Gen 3i", kModemIds}, {"ThinkPad S2 Gen 7i", kModemIds},
    {"ThinkPad L13 Gen 3a", kModemIds},      {"ThinkPad L13 Yoga Gen 3a", kModemIds},
    {"ThinkPad S2 Gen 7a", kModemIds},       {"ThinkPad S2 Yoga Gen 7a", kModemIds},
    {"ThinkPad L14 Gen 3", kModemIds},       {"ThinkPad L14 Gen 3a", kModemIds},
    {"ThinkPad L15 Gen 3", kModemIds},       {"ThinkPad L15 Gen 3a", kModemIds},
}};

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Whole-string equality with ASCII letters compared without regard to case.
bool EqualsIgnoringCase(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size(); ++i) {
    if (b[i] == '\0' || AsciiUpper(a[i]) != AsciiUpper(b[i])) {
      return false;
    }
  }
  return b[i] == '\0';
}

// The text after the first `prefix` in `text`, at most 4 characters; empty when `prefix`
// does not occur.
std::string FieldAfter(const std::string& text, const char* prefix) {
  const std::size_t at = text.find(prefix);
  if (at == std::string::npos) {
    return {};
  }
  return text.substr(at + std::char_traits<char>::length(prefix), kHwidFieldLength);
}

}  // namespace

const std::array<PlatformRow, kPlatformRowCount>& PlatformTable() {
  return kPlatformTable;
}

std::string SystemVersionOf(const std::string& version, const std::string& family) {
  return version.size() < kMinVersionLength ? version + family : version;
}

bool IsListedModel(const std::string& system_version) {
  for (const PlatformRow& row : kPlatformTable) {
    if (EqualsIgnoringCase(system_version, row.model)) {
      return true;
    }
  }
  return false;
}

std::vector<std::string> AllowedModemIds(const std::string& system_version) {
  std::vector<std::string> ids;
  for (const PlatformRow& row : kPlatformTable) {
    if (!EqualsIgnoringCase(system_version, row.model)) {
      continue;
    }
    for (const char* id : row.modem_ids) {
      if (std::find(ids.begin(), ids.end(), id) == ids.end()) {
        ids.emplace_back(id);
      }
    }
  }
  return ids;
}

bool IsSupportModem(const std::string& system_version, const std::string& modem_id) {
  LogHelper::TraceEnter(kSupportTag);
  bool supported = false;
  for (const PlatformRow& row : kPlatformTable) {
    if (!EqualsIgnoringCase(system_version, row.model)) {
      continue;
    }
    for (const char* id : row.modem_ids) {
      if (EqualsIgnoringCase(modem_id, id)) {
        supported = true;
        break;
      }
    }
    if (supported) {
      break;
    }
  }
  LogHelper::TraceLeave(kSupportTag);
  return supported;
}

bool parseDeviceHwid(const std::string& hwid, std::string& modem_id) {
  LogHelper::TraceEnter(kParseTag);
  std::string upper = hwid;
  for (char& c : upper) {
    c = AsciiUpper(c);
  }
  bool parsed = false;
  std::string first;
  std::string second;
  if (upper.find("USB") != std::string::npos) {
    first = FieldAfter(upper, "VID_");
    second = FieldAfter(upper, "PID_");
    parsed = true;
  } else if (upper.find("PCI") != std::string::npos) {
    first = FieldAfter(upper, "DEV_");
    second = FieldAfter(upper, "SUBSYS_");
    parsed = true;
  }
  parsed = parsed && first.size() == kHwidFieldLength && second.size() == kHwidFieldLength;
  if (parsed) {
    modem_id = first + second;
  }
  LogHelper::TraceLeave(kParseTag);
  return parsed;
}

bool VerifyPlatform(FirmwarePlatform& firmware, DevicePlatform& devices) {
  LogHelper::TraceEnter(kVerifyTag);
  Systeminfo info(firmware);
  const std::string system_version = SystemVersionOf(info.version, info.family);
  LogHelper::Print(LogInfo, kVerifyTag, "SMBIOS system version = %s", system_version);

  if (!IsListedModel(system_version)) {
    LogHelper::Print(LogInfo, kVerifyTag, "not in platform list. VerifyPlatform return = true ");
    LogHelper::TraceLeave(kVerifyTag);
    return true;
  }

  bool result = false;
  std::string hwid;
  if (CDeviceHelper::GetTessaryHwid(devices, hwid) != 0) {
    LogHelper::Print(LogInfo, kVerifyTag, "Get Tessary Device HardwareID Faild");
  } else {
    LogHelper::Print(LogInfo, kVerifyTag, "Tessary Device HardwareID = %s", hwid);
    std::string modem_id;
    if (!parseDeviceHwid(hwid, modem_id)) {
      LogHelper::Print(LogInfo, kVerifyTag, "parseDeviceHwid return fail, hwid = %s", hwid);
    } else {
      LogHelper::Print(LogInfo, kVerifyTag, "SMBIOS system version = %s, Device modem_id = %s",
                       system_version, modem_id);
      result = IsSupportModem(system_version, modem_id);
    }
  }
  LogHelper::Print(LogInfo, kVerifyTag, "VerifyPlatform return = %s ", result ? "true" : "false");
  LogHelper::TraceLeave(kVerifyTag);
  return result;
}

}  // namespace halvorn
