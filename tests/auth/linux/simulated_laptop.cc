#include "auth/linux/simulated_laptop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "auth/smbios_builder.h"
#include "mbn/linux/mbim_ports.h"
#include "mbn/linux/mbim_runtime.h"

namespace halvorn::testing {

namespace {

constexpr const char* kFccText = "KHOIHGIUCCHHII";

}  // namespace

SimulatedLaptop::SimulatedLaptop() {
  SetEnv("HALVORN_REGISTRY_FILE", registry_.string());
  SetEnv(mbn_linux::kProxyVariable, "0");
}

SimulatedLaptop::~SimulatedLaptop() {
  UnsetEnv(mbn_linux::kPortVariable);
  UnsetEnv(mbn_linux::kProxyVariable);
  UnsetEnv("HALVORN_REGISTRY_FILE");
}

const char* SimulatedLaptop::SkipReason() {
  if (!Testbed::Preloaded()) {
    ADD_FAILURE() << "run this program through tests/device/linux/in_testbed.sh (umockdev-wrapper)";
    return "not under the preload library";
  }
  if (::geteuid() != 0) {
    return "needs root: the registry file is trusted only when owned by root";
  }
  return nullptr;
}

void SimulatedLaptop::Build(const Laptop& laptop) {
  mbimsim::ModemOptions options;
  options.initial_level = laptop.initial_level;
  options.fault = laptop.fault;
  Build(laptop, options);
}

void SimulatedLaptop::Build(const Laptop& laptop, const mbimsim::ModemOptions& modem) {
  laptop_ = laptop;
  bed_.AddOtherNetworking();
  hub_ = bed_.AddUsbHost();
  if (laptop.modem) {
    usb_modem_ = bed_.PlugUsbModem(hub_, "2-3", laptop.vendor, laptop.product, "wwan0", 3);
  }
  std::vector<Bytes> table = {SystemInformation(27, laptop.model)};
  if (laptop.fcc_structure) {
    table.push_back(Oem(1, kFccText));
  }
  table.push_back(EndOfTable());
  Bytes bytes;
  for (const Bytes& part : table) {
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

  ASSERT_NO_FATAL_FAILURE(StartModem(modem));
  if (laptop.modem) {
    SetEnv(mbn_linux::kPortVariable, port_.string());
  } else {
    UnsetEnv(mbn_linux::kPortVariable);
  }
}

void SimulatedLaptop::StartModem(const mbimsim::ModemOptions& options) {
  simulator_ = std::make_unique<mbimsim::Simulator>(options);
  std::string error;
  ASSERT_TRUE(simulator_->Start(&error)) << error;
  if (laptop_.modem) {
    std::filesystem::remove(port_);
    std::filesystem::create_symlink(simulator_->device_path(), port_);
  }
}

void SimulatedLaptop::Unplug() {
  bed_.Uevent(usb_modem_.port, "remove");
  simulator_->Vanish();
  simulator_->WaitForVanish(std::chrono::seconds(60));
  std::filesystem::remove(port_);
}

void SimulatedLaptop::Plug(std::int32_t level) {
  ASSERT_TRUE(laptop_.modem) << "a laptop built without a modem has none to plug back";
  mbimsim::ModemOptions options;
  options.initial_level = level;
  ASSERT_NO_FATAL_FAILURE(StartModem(options));
  bed_.BindUsbDriver(usb_modem_.control, "cdc_mbim");
  last_plug_uevent_ = std::chrono::system_clock::now();
  bed_.Uevent(usb_modem_.port, "add");
}

}  // namespace halvorn::testing
