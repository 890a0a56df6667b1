// Test support for the Windows device backend: a device registered through SetupAPI and a
// driver key under the network class key, each removed again by its destructor. They work
// on Windows and in a Wine prefix.

#ifndef HALVORN_TESTS_DEVICE_WIN_WIN_DEVICES_H_
#define HALVORN_TESTS_DEVICE_WIN_WIN_DEVICES_H_

#include <windows.h>
// windows.h first: SetupAPI depends on it.
#include <setupapi.h>

#include <string>

namespace halvorn::testing {

// GUID_DEVCLASS_NET.
inline constexpr GUID kNetClass = {0x4D36E972,
                                   0xE325,
                                   0x11CE,
                                   {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// A registered device of the network class with a description and a hardware id list.
class CreatedDevice {
 public:
  // `hardware_ids`: the REG_MULTI_SZ, i.e. each id followed by a zero and one more zero at
  // the end.
  CreatedDevice(const std::wstring& instance_id,
                const std::wstring& description,
                const std::wstring& hardware_ids);
  ~CreatedDevice();
  CreatedDevice(const CreatedDevice&) = delete;
  CreatedDevice& operator=(const CreatedDevice&) = delete;

  // False (with GetLastError() telling why) when the device could not be registered.
  bool created() const { return created_; }

 private:
  HDEVINFO set_;
  SP_DEVINFO_DATA data_{};
  bool created_ = false;
};

// A driver key `name` under the network class key with the values "NetCfgInstanceId" and
// "DeviceInstanceID" (REG_SZ), as an installed network adapter has.
class DriverKey {
 public:
  DriverKey(const char* name, const std::string& cfg_id, const std::string& instance_id);
  ~DriverKey();
  DriverKey(const DriverKey&) = delete;
  DriverKey& operator=(const DriverKey&) = delete;

  bool ok() const { return ok_; }

 private:
  std::string name_;
  bool ok_ = false;
};

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_DEVICE_WIN_WIN_DEVICES_H_
