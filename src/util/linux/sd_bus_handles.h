// Owners of sd-bus objects (libsystemd): a bus connection, a message, a match slot and an error;
// and the names of systemd's D-Bus interface. Only Linux backend files and tests include it.

#ifndef HALVORN_UTIL_LINUX_SD_BUS_HANDLES_H_
#define HALVORN_UTIL_LINUX_SD_BUS_HANDLES_H_

#include <systemd/sd-bus.h>

#include <memory>
#include <string>

namespace halvorn {

struct BusDeleter {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using ScopedBus = std::unique_ptr<sd_bus, BusDeleter>;

struct MessageDeleter {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using ScopedMessage = std::unique_ptr<sd_bus_message, MessageDeleter>;

struct SlotDeleter {
  void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
using ScopedSlot = std::unique_ptr<sd_bus_slot, SlotDeleter>;

class ScopedBusError {
 public:
  ScopedBusError() = default;
  ~ScopedBusError() { sd_bus_error_free(&error_); }
  ScopedBusError(const ScopedBusError&) = delete;
  ScopedBusError& operator=(const ScopedBusError&) = delete;
  sd_bus_error* get() { return &error_; }
  // The error's message; empty when there is none.
  const char* text() const { return error_.message != nullptr ? error_.message : ""; }

 private:
  sd_bus_error error_ = {nullptr, nullptr, 0};  // SD_BUS_ERROR_NULL, without its C compound literal
};

namespace systemd1 {
inline constexpr const char* kDestination = "org.freedesktop.systemd1";
inline constexpr const char* kManagerPath = "/org/freedesktop/systemd1";
inline constexpr const char* kManagerInterface = "org.freedesktop.systemd1.Manager";
inline constexpr const char* kUnitInterface = "org.freedesktop.systemd1.Unit";
inline constexpr const char* kServiceInterface = "org.freedesktop.systemd1.Service";
}  // namespace systemd1

}  // namespace halvorn

#endif  // HALVORN_UTIL_LINUX_SD_BUS_HANDLES_H_
