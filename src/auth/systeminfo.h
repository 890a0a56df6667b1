// The laptop's identity and the FCC-mode flag, read from the firmware's SMBIOS tables.

#ifndef HALVORN_AUTH_SYSTEMINFO_H_
#define HALVORN_AUTH_SYSTEMINFO_H_

#include <string>

namespace halvorn {

class FirmwarePlatform;

class Systeminfo {
 public:
  // Reads the SMBIOS tables of `firmware` and fills the fields from the first System
  // Information structure. Reports nothing: when the tables cannot be read, every field stays
  // empty. `firmware` must outlive the object (isFccMode reads it again).
  explicit Systeminfo(FirmwarePlatform& firmware);
  ~Systeminfo() = default;
  Systeminfo(const Systeminfo&) = delete;
  Systeminfo& operator=(const Systeminfo&) = delete;

  // True when the firmware carries the FCC-mode marker in its first OEM structure of
  // type 133. Reads the tables anew and ignores the fields. Logs the table size and, when
  // a candidate structure is found, its content. False when the tables cannot be read.
  bool isFccMode();

  std::string family;
  std::string manufacturer;
  std::string productName;
  std::string serialNumber;
  std::string skuNumber;
  std::string uuid;  // the 16 stored bytes as "%02X..." text, no bytes swapped
  std::string version;

 private:
  FirmwarePlatform& firmware_;
};

}  // namespace halvorn

#endif  // HALVORN_AUTH_SYSTEMINFO_H_
