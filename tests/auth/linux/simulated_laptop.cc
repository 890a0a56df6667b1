#include "auth/linux/simulated_laptop.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "auth/smbios_builder.h"
#include "mbn/linux/mbim_ports.h"
#include "mbn/linux/mbim_runtime.h"

namespace halvorn::testing {

using mbimsim::ModemOptions;
using mbimsim::Simulator;

void SimulatedLaptopTest::SetUp() {
  ASSERT_TRUE(Testbed::Preloaded())
      << "run this program through tests/device/linux/in_testbed.sh (umockdev-wrapper)";
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root: the registry file is trusted only when owned by root";
  }
  SetEnv("HALVORN_REGISTRY_FILE", registry_.string());
  // The pseudo-terminal is opened directly: mbim-proxy serves root only.
  SetEnv(mbn_linux::kProxyVariable, "0");
}

void SimulatedLaptopTest::TearDown() {
  UnsetEnv(mbn_linux::kPortVariable);
  UnsetEnv(mbn_linux::kProxyVariable);
  UnsetEnv("HALVORN_REGISTRY_FILE");
}

void SimulatedLaptopTest::BuildLaptop(const Laptop& laptop) {
  bed_.AddOtherNetworking();
  const std::string hub = bed_.AddUsbHost();
  if (laptop.modem) {
    bed_.AddUsbModem(hub, "2-3", laptop.vendor, laptop.product, "wwan0", 3);
  }
  std::vector<testing::Bytes> table = {testing::SystemInformation(27, laptop.model)};
  if (laptop.fcc_structure) {
    table.push_back(testing::Oem(1, kFccText));
  }
  table.push_back(testing::EndOfTable());
  testing::Bytes bytes;
  for (const testing::Bytes& part : table) {
    bytes.insert(bytes.end(), part.begin(), part.end());
  }
  bed_.WriteSysFile("firmware/dmi/tables/DMI", bytes);

  std::ofstream out(registry_, std::ios::binary | std::ios::trunc);
  out << "Windows Registry Editor Version 5.00\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tessary Wireless Inc\\Brevane]\r\n";
  if (laptop.disable_verify) {
    char line[64];
    std::snprintf(line, sizeof(line), "\"IsDisableVerify\"=dword:%08x\r\n", *laptop.disable_verify);
    out << line;
  }
  out.close();
  std::filesystem::permissions(
      registry_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                     std::filesystem::perms::group_read | std::filesystem::perms::others_read);

  ModemOptions options;
  options.initial_level = laptop.initial_level;
  options.fault = laptop.fault;
  simulator_ = std::make_unique<Simulator>(options);
  std::string error;
  ASSERT_TRUE(simulator_->Start(&error)) << error;
  if (laptop.modem) {
    std::filesystem::create_symlink(simulator_->device_path(), port_);
    SetEnv(mbn_linux::kPortVariable, port_.string());
  } else {
    UnsetEnv(mbn_linux::kPortVariable);
  }
}

}  // namespace halvorn::testing
