// Test support: a umockdev test bed with the devices of a laptop with a cellular modem.
// The test program must run under umockdev's preload library (in_testbed.sh); then libudev
// and every file access under /sys see the test bed instead of the real system.

#ifndef HALVORN_TESTS_DEVICE_LINUX_TESTBED_H_
#define HALVORN_TESTS_DEVICE_LINUX_TESTBED_H_

#include <cstdint>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace halvorn::testing {

class Testbed {
 public:
  Testbed();
  ~Testbed();
  Testbed(const Testbed&) = delete;
  Testbed& operator=(const Testbed&) = delete;

  // True when the program runs under the preload library.
  static bool Preloaded();

  // Adds a device; attributes and properties are name/value pairs. Returns its sysfs path.
  std::string Add(const std::string& subsystem,
                  const std::string& name,
                  const std::string& parent,
                  const std::vector<std::string>& attributes,
                  const std::vector<std::string>& properties);

  // The PCI xHCI controller 0000:00:14.0 with its root hub usb2; returns the hub.
  std::string AddUsbHost();
  // The sysfs paths of a USB modem's parts.
  struct UsbModem {
    std::string device;   // the USB device
    std::string control;  // its MBIM control interface
    std::string port;     // the cdc-wdm control port below it
  };
  // A USB modem on port `port` of `hub` ("2-3"): the device, an MBIM control interface 12
  // with its cdc-wdm<ifindex> control port, data interface 13, and a DEVTYPE=wwan interface
  // `ifname` with `ifindex` below the control interface.
  UsbModem PlugUsbModem(const std::string& hub,
                        const std::string& port,
                        const std::string& vid,
                        const std::string& pid,
                        const std::string& ifname,
                        int ifindex);
  // The same, returning the control interface.
  std::string AddUsbModem(const std::string& hub,
                          const std::string& port,
                          const std::string& vid,
                          const std::string& pid,
                          const std::string& ifname,
                          int ifindex) {
    return PlugUsbModem(hub, port, vid, pid, ifname, ifindex).control;
  }
  // A PCI modem function `slot` with an MHI controller and a DEVTYPE=wwan interface.
  std::string AddPciModem(const std::string& slot,
                          const std::string& vendor,
                          const std::string& device,
                          const std::string& ifname,
                          int ifindex);
  // The loopback interface and an Ethernet port with eth0.
  void AddOtherNetworking();

  // Binds the device at `syspath` to the USB driver `driver` (its "driver" link), as the
  // kernel does when a device is plugged in.
  void BindUsbDriver(const std::string& syspath, const std::string& driver);

  // Sends the uevent `action` ("add", "remove") of the device at `syspath` to every udev
  // monitor of the programs under the test bed, the test's children included.
  void Uevent(const std::string& syspath, const char* action);

  // Writes a file below the test bed's /sys (for /sys/firmware).
  void WriteSysFile(const std::string& relative_path, const std::vector<std::uint8_t>& bytes);

 private:
  UMockdevTestbed* bed_;
};

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_DEVICE_LINUX_TESTBED_H_
