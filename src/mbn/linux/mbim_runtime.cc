#include "mbn/linux/mbim_runtime.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "mbn/linux/mbim_ports.h"
#include "mbn/linux/udev_account_watcher.h"

namespace halvorn::mbn_linux {

namespace {

using mbn_platform::AsyncStatus;
using mbn_platform::CallResult;
using mbn_platform::ServiceId;

// Offsets in a whole command-done message: header (type, length, transaction id), fragment
// header (total, current), service id, command id, status, information buffer length.
constexpr std::size_t kDoneStatusOffset = 40;
constexpr std::size_t kDoneHeaderLength = 48;

std::uint32_t ReadLe32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

bool ProxyWanted() {
  const char* value = std::getenv(kProxyVariable);
  return value == nullptr || std::strcmp(value, "0") != 0;
}

// One opening of the control port. Lives on the GLib thread only: created there by OpenPort
// and destroyed there (by ClosePort or the owner's posted release).
struct PortState {
  GObjectPtr<MbimDevice> device;
  // Cancels every command sent over this opening, so that closing never leaves a command to
  // libmbim's own timeout (which would outlive the opening).
  GObjectPtr<GCancellable> cancellable{g_cancellable_new()};
};

// One command, shared by the pending command, libmbim's completion and the helper's callback.
struct CommandState {
  MbimUuid service{};
  std::uint32_t cid = 0;

  // Written on the GLib thread before `finished`; read by GetResults after completion.
  std::mutex lock;
  bool finished = false;
  AsyncStatus status = AsyncStatus::kStarted;
  std::uint32_t status_code = 0;
  std::vector<std::uint8_t> response;

  // GLib thread only.
  std::function<void(AsyncStatus)> on_done;
};

// Calls the registered callback once the command has finished; GLib thread only.
void Deliver(CommandState& state) {
  if (!state.on_done) {
    return;
  }
  AsyncStatus status = AsyncStatus::kStarted;
  {
    std::lock_guard<std::mutex> hold(state.lock);
    if (!state.finished) {
      return;
    }
    status = state.status;
  }
  std::function<void(AsyncStatus)> on_done = std::move(state.on_done);
  state.on_done = nullptr;
  on_done(status);
}

// Reads a command-done answer to `state`'s command. False when it answers another service or
// command, or is malformed.
bool ReadDone(MbimMessage* message,
              const CommandState& state,
              std::uint32_t* status_code,
              std::vector<std::uint8_t>* data) {
  guint32 length = 0;
  GError* failure = nullptr;
  const guint8* raw = mbim_message_get_raw(message, &length, &failure);
  ErrorPtr error(failure);
  if (raw == nullptr || length < kDoneHeaderLength) {
    return false;
  }
  const MbimUuid* service = mbim_message_command_done_get_service_id(message);
  if (service == nullptr || !mbim_uuid_cmp(service, &state.service) ||
      mbim_message_command_done_get_cid(message) != state.cid) {
    return false;
  }
  *status_code = ReadLe32(raw + kDoneStatusOffset);
  guint32 info_length = 0;
  const guint8* info = mbim_message_command_done_get_raw_information_buffer(message, &info_length);
  if (info != nullptr) {
    data->assign(info, info + info_length);
  }
  return true;
}

void OnCommandDone(GObject* source, GAsyncResult* result, gpointer user_data) {
  std::unique_ptr<std::shared_ptr<CommandState>> holder(
      static_cast<std::shared_ptr<CommandState>*>(user_data));
  CommandState& state = **holder;
  GError* failure = nullptr;
  MessagePtr message(mbim_device_command_finish(MBIM_DEVICE(source), result, &failure));
  ErrorPtr error(failure);

  AsyncStatus status = AsyncStatus::kError;
  std::uint32_t status_code = 0;
  std::vector<std::uint8_t> data;
  if (!message) {
    if (g_error_matches(error.get(), MBIM_CORE_ERROR, MBIM_CORE_ERROR_ABORTED) ||
        g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
      status = AsyncStatus::kCanceled;
    }
  } else if (mbim_message_get_message_type(message.get()) == MBIM_MESSAGE_TYPE_COMMAND_DONE &&
             ReadDone(message.get(), state, &status_code, &data)) {
    status = AsyncStatus::kCompleted;
  }
  {
    std::lock_guard<std::mutex> hold(state.lock);
    state.finished = true;
    state.status = status;
    state.status_code = status_code;
    state.response = std::move(data);
  }
  Deliver(state);
}

class Buffer : public mbn_platform::RequestBuffer {
 public:
  explicit Buffer(std::span<const std::uint8_t> bytes) : bytes_(bytes.begin(), bytes.end()) {}
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

class Pending : public mbn_platform::PendingCommand {
 public:
  Pending(GlibThread& glib, std::shared_ptr<CommandState> state)
      : glib_(glib), state_(std::move(state)) {}

  CallResult SetCompleted(std::function<void(AsyncStatus)> on_done) override {
    glib_.Post([state = state_, on_done = std::move(on_done)]() mutable {
      state->on_done = std::move(on_done);
      Deliver(*state);
    });
    return CallResult::Ok();
  }

  CallResult GetResults(std::uint32_t* status_code, std::vector<std::uint8_t>* response) override {
    std::lock_guard<std::mutex> hold(state_->lock);
    if (!state_->finished || state_->status != AsyncStatus::kCompleted) {
      return CallResult::Failure();
    }
    *status_code = state_->status_code;
    *response = state_->response;
    return CallResult::Ok();
  }

 private:
  GlibThread& glib_;
  std::shared_ptr<CommandState> state_;
};

// The control port of one modem handle, opened on demand and shared by the modem, its device
// service and its command session. Releasing the last of them closes the port.
class PortLink {
 public:
  PortLink(GlibThread& glib, std::string path, bool proxy)
      : glib_(glib), path_(std::move(path)), proxy_(proxy) {}
  PortLink(const PortLink&) = delete;
  PortLink& operator=(const PortLink&) = delete;

  // Closes a port still open, and waits for that: the next opening of the port must not meet
  // this one's close on the wire.
  ~PortLink() { Close(); }

  CallResult Open() {
    if (port_ != nullptr) {
      return CallResult::Ok();
    }
    port_ = glib_.Await<PortState*>(
        [path = path_, proxy = proxy_](std::function<void(PortState*)> done) {
          StartOpen(path, proxy, std::move(done));
        });
    return port_ != nullptr ? CallResult::Ok() : CallResult::Failure();
  }

  // Opens the port when it is not open yet, then reads whether the modem's device-services
  // list carries `service`, in one hand-over to the GLib thread.
  CallResult OpenAndFindService(const MbimUuid& service, bool* found) {
    using Answer = std::pair<PortState*, std::optional<bool>>;
    Answer answer = glib_.Await<Answer>(
        [port = port_, path = path_, proxy = proxy_, service](std::function<void(Answer)> done) {
          auto query = [service, done = std::move(done)](PortState* opened) {
            if (opened == nullptr) {
              done({nullptr, std::nullopt});
              return;
            }
            MessagePtr request(mbim_message_device_services_query_new(nullptr));
            auto job = new ServicesJob{service, [opened, done](std::optional<bool> has) {
                                         done({opened, has});
                                       }};
            mbim_device_command(opened->device.get(), request.get(), MbimRuntime::kCommandTimeoutS,
                                opened->cancellable.get(), &ServicesJob::Answered, job);
          };
          if (port != nullptr) {
            query(port);
          } else {
            StartOpen(path, proxy, std::move(query));
          }
        });
    port_ = answer.first;
    if (!answer.second) {
      return CallResult::Failure();
    }
    *found = *answer.second;
    return CallResult::Ok();
  }

  CallResult Send(const MbimUuid& service,
                  std::uint32_t cid,
                  MbimMessageCommandType type,
                  const std::vector<std::uint8_t>& bytes,
                  std::unique_ptr<mbn_platform::PendingCommand>* pending) {
    if (port_ == nullptr) {
      return CallResult::Failure();
    }
    auto state = std::make_shared<CommandState>();
    state->service = service;
    state->cid = cid;
    PortState* port = port_;
    // Nothing to wait for: a command that cannot go out completes as an error.
    glib_.Post([port, state, type, bytes] {
      // The vendor service is registered by its UUID alone: libmbim frames its messages and
      // nothing else of libmbim's knowledge of services is used.
      gchar* text = mbim_uuid_get_printable(&state->service);
      const std::string nickname = std::string("halvorn-") + text;
      g_free(text);
      const auto mbim_service =
          static_cast<MbimService>(mbim_register_custom_service(&state->service, nickname.c_str()));
      MessagePtr request(mbim_message_command_new(0, mbim_service, state->cid, type));
      if (!bytes.empty()) {
        mbim_message_command_append(request.get(), bytes.data(),
                                    static_cast<guint32>(bytes.size()));
      }
      mbim_device_command(port->device.get(), request.get(), MbimRuntime::kCommandTimeoutS,
                          port->cancellable.get(), &OnCommandDone,
                          new std::shared_ptr<CommandState>(state));
    });
    *pending = std::make_unique<Pending>(glib_, std::move(state));
    return CallResult::Ok();
  }

  // Cancels what is outstanding and sends the MBIM close; the port is released either way.
  CallResult Close() {
    PortState* port = std::exchange(port_, nullptr);
    if (port == nullptr) {
      return CallResult::Ok();
    }
    const bool closed = glib_.Await<bool>(
        [port](std::function<void(bool)> done) { StartClose(port, std::move(done)); });
    return closed ? CallResult::Ok() : CallResult::Failure();
  }

 private:
  struct OpenJob {
    std::unique_ptr<PortState> port;
    std::function<void(PortState*)> done;
    bool proxy;

    static void Created(GObject*, GAsyncResult* result, gpointer self) {
      auto* job = static_cast<OpenJob*>(self);
      GError* failure = nullptr;
      job->port->device.reset(mbim_device_new_finish(result, &failure));
      ErrorPtr error(failure);
      if (!job->port->device) {
        Finish(job, false);
        return;
      }
      mbim_device_open_full(job->port->device.get(),
                            job->proxy ? MBIM_DEVICE_OPEN_FLAGS_PROXY : MBIM_DEVICE_OPEN_FLAGS_NONE,
                            MbimRuntime::kOpenTimeoutS, nullptr, &OpenJob::Opened, job);
    }
    static void Opened(GObject* source, GAsyncResult* result, gpointer self) {
      GError* failure = nullptr;
      const bool opened = mbim_device_open_full_finish(MBIM_DEVICE(source), result, &failure);
      ErrorPtr error(failure);
      Finish(static_cast<OpenJob*>(self), opened);
    }
    static void Finish(OpenJob* job, bool opened) {
      std::unique_ptr<OpenJob> owned(job);
      job->done(opened ? job->port.release() : nullptr);
    }
  };

  struct ServicesJob {
    MbimUuid service;
    std::function<void(std::optional<bool>)> done;

    static void Answered(GObject* source, GAsyncResult* result, gpointer self) {
      std::unique_ptr<ServicesJob> job(static_cast<ServicesJob*>(self));
      GError* failure = nullptr;
      MessagePtr response(mbim_device_command_finish(MBIM_DEVICE(source), result, &failure));
      guint32 count = 0;
      guint32 max_dss_sessions = 0;
      MbimDeviceServiceElement** elements = nullptr;
      if (!response ||
          !mbim_message_response_get_result(response.get(), MBIM_MESSAGE_TYPE_COMMAND_DONE,
                                            &failure) ||
          !mbim_message_device_services_response_parse(response.get(), &count, &max_dss_sessions,
                                                       &elements, &failure)) {
        ErrorPtr error(failure);
        job->done(std::nullopt);
        return;
      }
      bool found = false;
      for (guint32 i = 0; i < count; ++i) {
        found = found || mbim_uuid_cmp(&elements[i]->device_service_id, &job->service);
      }
      mbim_device_service_element_array_free(elements);
      job->done(found);
    }
  };

  struct CloseJob {
    std::unique_ptr<PortState> port;
    std::function<void(bool)> done;

    static void Closed(GObject* source, GAsyncResult* result, gpointer self) {
      std::unique_ptr<CloseJob> job(static_cast<CloseJob*>(self));
      GError* failure = nullptr;
      const bool closed = mbim_device_close_finish(MBIM_DEVICE(source), result, &failure);
      ErrorPtr error(failure);
      job->port.reset();
      job->done(closed);
    }
  };

  // GLib thread: creates and opens the device; `done` gets the open port or null.
  static void StartOpen(const std::string& path, bool proxy, std::function<void(PortState*)> done) {
    auto job = new OpenJob{std::make_unique<PortState>(), std::move(done), proxy};
    GObjectPtr<GFile> file(g_file_new_for_path(path.c_str()));
    mbim_device_new(file.get(), nullptr, &OpenJob::Created, job);
  }

  // GLib thread: ends every outstanding command of the opening (they complete as canceled),
  // then sends the MBIM close and releases the port when it is answered or has failed.
  static void StartClose(PortState* port, std::function<void(bool)> done) {
    g_cancellable_cancel(port->cancellable.get());
    auto job = new CloseJob{std::unique_ptr<PortState>(port), std::move(done)};
    mbim_device_close(job->port->device.get(), MbimRuntime::kCloseTimeoutS, nullptr,
                      &CloseJob::Closed, job);
  }

  GlibThread& glib_;
  const std::string path_;
  const bool proxy_;
  PortState* port_ = nullptr;  // the open port; created and destroyed on the GLib thread
};

class Session : public mbn_platform::CommandSession {
 public:
  Session(std::shared_ptr<PortLink> link, const MbimUuid& service)
      : link_(std::move(link)), service_(service) {}

  std::uintptr_t Identity() const override { return reinterpret_cast<std::uintptr_t>(this); }

  CallResult SendQuery(std::uint32_t command_id,
                       mbn_platform::RequestBuffer& request,
                       std::unique_ptr<mbn_platform::PendingCommand>* pending) override {
    return Send(command_id, MBIM_MESSAGE_COMMAND_TYPE_QUERY, request, pending);
  }
  CallResult SendSet(std::uint32_t command_id,
                     mbn_platform::RequestBuffer& request,
                     std::unique_ptr<mbn_platform::PendingCommand>* pending) override {
    return Send(command_id, MBIM_MESSAGE_COMMAND_TYPE_SET, request, pending);
  }
  CallResult Close() override { return link_->Close(); }

 private:
  CallResult Send(std::uint32_t command_id,
                  MbimMessageCommandType type,
                  mbn_platform::RequestBuffer& request,
                  std::unique_ptr<mbn_platform::PendingCommand>* pending) {
    auto* buffer = dynamic_cast<Buffer*>(&request);
    if (buffer == nullptr) {
      return CallResult::Failure();
    }
    return link_->Send(service_, command_id, type, buffer->bytes(), pending);
  }

  std::shared_ptr<PortLink> link_;
  const MbimUuid service_;
};

class Service : public mbn_platform::DeviceService {
 public:
  Service(std::shared_ptr<PortLink> link, const MbimUuid& service)
      : link_(std::move(link)), service_(service) {}

  CallResult OpenCommandSession(std::unique_ptr<mbn_platform::CommandSession>* session) override {
    if (CallResult r = link_->Open(); !r.ok()) {
      return r;
    }
    *session = std::make_unique<Session>(link_, service_);
    return CallResult::Ok();
  }

 private:
  std::shared_ptr<PortLink> link_;
  const MbimUuid service_;
};

class Modem : public mbn_platform::Modem {
 public:
  explicit Modem(std::shared_ptr<PortLink> link) : link_(std::move(link)) {}

  CallResult GetDeviceService(const ServiceId& id,
                              std::unique_ptr<mbn_platform::DeviceService>* service) override {
    const MbimUuid uuid = ToMbimUuid(id);
    bool found = false;
    if (CallResult r = link_->OpenAndFindService(uuid, &found); !r.ok()) {
      return r;
    }
    if (found) {
      *service = std::make_unique<Service>(link_, uuid);
    }
    return CallResult::Ok();
  }

 private:
  std::shared_ptr<PortLink> link_;
};

}  // namespace

MbimUuid ToMbimUuid(const ServiceId& id) {
  // Data1 (4 bytes), Data2 and Data3 (2 bytes each) turn around; Data4 stays as it is.
  const std::uint8_t wire[16] = {id[3], id[2], id[1],  id[0],  id[5],  id[4],  id[7],  id[6],
                                 id[8], id[9], id[10], id[11], id[12], id[13], id[14], id[15]};
  MbimUuid uuid;
  static_assert(sizeof(uuid) == sizeof(wire));
  std::memcpy(&uuid, wire, sizeof(wire));
  return uuid;
}

MbimRuntime::MbimRuntime(GlibThread& glib) : glib_(glib) {}

CallResult MbimRuntime::GetDefaultModem(std::unique_ptr<mbn_platform::Modem>* modem) {
  std::string port = FindDefaultMbimPort();
  if (!port.empty()) {
    *modem =
        std::make_unique<Modem>(std::make_shared<PortLink>(glib_, std::move(port), ProxyWanted()));
  }
  return CallResult::Ok();
}

CallResult MbimRuntime::MakeRequest(std::span<const std::uint8_t> bytes,
                                    std::unique_ptr<mbn_platform::RequestBuffer>* buffer) {
  *buffer = std::make_unique<Buffer>(bytes);
  return CallResult::Ok();
}

CallResult MbimRuntime::CreateAccountWatcher(
    std::unique_ptr<mbn_platform::AccountWatcher>* watcher) {
  return UdevAccountWatcher::Create(watcher);
}

}  // namespace halvorn::mbn_linux
