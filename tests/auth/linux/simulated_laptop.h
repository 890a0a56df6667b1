// Test support: a simulated laptop for the Linux build's end-to-end tests. A umockdev test bed
// with the laptop's modem (or none) and its SMBIOS tables, the registry file, and the MBIM
// simulator on a pseudo-terminal; HALVORN_MBIM_PORT points at a link to the simulator's terminal
// when the laptop has a modem. The program must run under in_testbed.sh, and the registry file
// is trusted only when owned by root.

#ifndef HALVORN_TESTS_AUTH_LINUX_SIMULATED_LAPTOP_H_
#define HALVORN_TESTS_AUTH_LINUX_SIMULATED_LAPTOP_H_

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

#include <gtest/gtest.h>

#include "device/linux/testbed.h"
#include "simulator.h"
#include "support/log_capture.h"

namespace halvorn::testing {

inline constexpr const char* kListedModel = "ThinkPad X13 Gen 3";
inline constexpr const char* kUnlistedModel = "Halvorn Test Laptop";
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

// A listed laptop with the vendor's modem at level 0 and the FCC-mode structure.
inline constexpr Laptop kListedLaptopAtLevelZero = {
    kListedModel, true, kVendor, "0b41", true, std::nullopt, 0, mbimsim::Fault::kNone};

class SimulatedLaptop {
 public:
  // Points the registry file at the folder's and opens the port directly (mbim-proxy serves
  // root only). Call Skip() first: without root or the preload library nothing can be built.
  SimulatedLaptop();
  ~SimulatedLaptop();
  SimulatedLaptop(const SimulatedLaptop&) = delete;
  SimulatedLaptop& operator=(const SimulatedLaptop&) = delete;

  // Why the cases cannot run here, or null when they can. Fails the test without the preload
  // library (a wrong runner, not a missing capability).
  static const char* SkipReason();

  // Builds `laptop`. The simulated modem is started in every case, also on a laptop without
  // a modem, where nothing leads to it: there it shows that the job never found one. Uses
  // gtest assertions: call under ASSERT_NO_FATAL_FAILURE.
  void Build(const Laptop& laptop);
  // The same, with the simulated modem started with `modem` in place of the laptop's initial
  // level and fault.
  void Build(const Laptop& laptop, const mbimsim::ModemOptions& modem);

  // Unplugs the modem: udev reports its control port removed, the simulated modem vanishes
  // (an open port sees a hang-up) and the port link goes. The devices stay in the test bed's
  // sysfs (umockdev cannot add a removed USB device again), as a driver's would until the
  // kernel has torn them down.
  void Unplug();
  // Plugs a modem like the one Build made back in, starting at `level`: a new simulated modem
  // behind the same port link, its control interface bound to cdc_mbim (the test bed of Build
  // binds no driver, so udev's watchers see no MBIM port before), and udev reporting the
  // control port added. Call under
  // ASSERT_NO_FATAL_FAILURE.
  void Plug(std::int32_t level);
  // When the last Plug reported the port added (wall clock, just before the uevent).
  std::chrono::system_clock::time_point last_plug_uevent() const { return last_plug_uevent_; }

  mbimsim::Simulator& modem() { return *simulator_; }
  const std::filesystem::path& folder() const { return dir_.path(); }

 private:
  // Starts a simulated modem with `options` and, on a laptop with a modem, points the port
  // link at it.
  void StartModem(const mbimsim::ModemOptions& options);

  Testbed bed_;
  std::string hub_;
  Laptop laptop_{};
  Testbed::UsbModem usb_modem_;
  TempDir dir_;
  const std::filesystem::path registry_ = dir_.path() / "registry.reg";
  const std::filesystem::path port_ = dir_.path() / "cdc-wdm3";
  std::unique_ptr<mbimsim::Simulator> simulator_;
  std::chrono::system_clock::time_point last_plug_uevent_{};
};

// A fixture with a simulated laptop that each case builds: skips where none can be built.
class SimulatedLaptopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* reason = SimulatedLaptop::SkipReason()) {
      GTEST_SKIP() << reason;
    }
    laptop_ = std::make_unique<SimulatedLaptop>();
  }

  void BuildLaptop(const Laptop& laptop) {
    ASSERT_NO_FATAL_FAILURE(laptop_->Build(laptop));
    simulator_ = &laptop_->modem();
  }

  std::unique_ptr<SimulatedLaptop> laptop_;
  mbimsim::Simulator* simulator_ = nullptr;
};

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_AUTH_LINUX_SIMULATED_LAPTOP_H_
