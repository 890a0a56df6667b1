// Platform verification: whether the vendor's modem found in this laptop is one that the
// laptop model may carry. These are the stateless checks of the authorisation task; they
// log under its class name ("CTaskAuthModule::...").

#ifndef HALVORN_AUTH_PLATFORM_VERIFICATION_H_
#define HALVORN_AUTH_PLATFORM_VERIFICATION_H_

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace halvorn {

class DevicePlatform;
class FirmwarePlatform;

// One laptop model and the modem ids (vendor id then product id, eight lower-case hex
// digits) that it may carry.
struct PlatformRow {
  const char* model;
  std::array<const char*, 2> modem_ids;
};

inline constexpr std::size_t kPlatformRowCount = 26;

// The built-in platform table, fixed at compile time and never changed.
const std::array<PlatformRow, kPlatformRowCount>& PlatformTable();

// True when the modem may be used in this laptop: the laptop model (SMBIOS Version, with
// Family appended when Version is shorter than 3 characters, read from `firmware`) is in no
// table row, or a row of that model lists the modem id taken from the hardware id of the
// vendor device among `devices` (CDeviceHelper::GetTessaryHwid, asked only for a listed
// model).
bool VerifyPlatform(FirmwarePlatform& firmware, DevicePlatform& devices);

// The laptop model string that verification compares: the SMBIOS Version, with the Family
// appended when Version is shorter than 3 characters.
std::string SystemVersionOf(const std::string& version, const std::string& family);

// Whether some row names `system_version` (ASCII case ignored, whole string). A model in no
// row is not restricted.
bool IsListedModel(const std::string& system_version);

// The modem ids that the rows of `system_version` list, in table order without repeats;
// empty for a model in no row. Writes no log line.
std::vector<std::string> AllowedModemIds(const std::string& system_version);

// True when some row whose model equals `system_version` (ASCII case ignored, whole string)
// lists `modem_id` (case ignored). Every row of the model is searched.
bool IsSupportModem(const std::string& system_version, const std::string& modem_id);

// Forms the modem id from a hardware id: for a USB id the 4 characters after "VID_" and
// after "PID_", for a PCI id those after "DEV_" and "SUBSYS_", in upper case. Writes
// `modem_id` only on success.
bool parseDeviceHwid(const std::string& hwid, std::string& modem_id);

}  // namespace halvorn

#endif  // HALVORN_AUTH_PLATFORM_VERIFICATION_H_
