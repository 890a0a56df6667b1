// Test support: a simulated laptop for end-to-end tests on Linux: a umockdev test bed with
// the laptop's modem (or none) and its SMBIOS tables, the registry file, and the simulated
// modem on a pseudo-terminal that the real libmbim-glib reaches. The program must run under
// in_testbed.sh; the registry file is trusted only when owned by root, so the fixture skips
// without root.

#ifndef HALVORN_TESTS_AUTH_LINUX_SIMULATED_LAPTOP_H_
#define HALVORN_TESTS_AUTH_LINUX_SIMULATED_LAPTOP_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

#include "device/linux/testbed.h"
#include "simulator.h"
#include "support/log_capture.h"

namespace halvorn::testing {

inline constexpr const char* kListedModel = "ThinkPad X13 Gen 3";
inline constexpr const char* kUnlistedModel = "Halvorn Test Laptop";
inline constexpr const char* kFccText = "KHOIHGIUCCHHII";
inline constexpr const char* kVendor = "7a3f";       // the vendor's USB vendor id
inline constexpr const char* kOtherVendor = "4e2a";  // another maker's

// What the laptop is made of.
struct Laptop {
  const char* model;
  // Whether a USB modem is plugged in. Without one the test bed has no modem and the helper is
  // given no control port: it asks udev, which knows none.
  bool modem;
  const char* vendor;   // USB vendor id of the modem; null without a modem
  const char* product;  // USB product id of the modem; null without a modem
  bool fcc_structure;
  std::optional<std::uint32_t> disable_verify;
  std::int32_t initial_level;
  mbimsim::Fault fault;
};

// A simulated laptop: the test bed, the registry file and the simulated modem, with the
// helper's Linux port pointed at the modem's control port when the laptop has a modem.
class SimulatedLaptopTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The simulated modem is started in every case, also on a laptop without a modem, where
  // nothing leads to it: there it shows that the job never found one.
  void BuildLaptop(const Laptop& laptop);

  Testbed bed_;
  TempDir dir_;
  const std::filesystem::path registry_ = dir_.path() / "registry.reg";
  const std::filesystem::path port_ = dir_.path() / "cdc-wdm3";
  std::unique_ptr<mbimsim::Simulator> simulator_;
};

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_AUTH_LINUX_SIMULATED_LAPTOP_H_
