#include "mbn/linux/mbim_runtime.h"

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "mbn/linux/mbim_ports.h"
#include "mbn/linux/udev_account_watcher.h"
#include "util/little_endian.h"

namespace halvorn::mbn_linux {

namespace {

using mbn_platform::AsyncStatus;
using mbn_platform::CallResult;
using mbn_platform::ServiceId;

// Offsets in a whole command-done message: header (type, length, transaction id), fragment
// header (total, current), service id, command id, status, information buffer length.
constexpr std::size_t kDoneStatusOffset = 40;
constexpr std::size_t kDoneHeaderLength = 48;

bool ProxyWanted() {
  const char* value = std::getenv(kProxyVariable);
  return value == nullptr || std::strcmp(value, "0") != 0;
}

// The runtime numbers the commands it sends from here on; libmbim numbers its own OPEN and
// CLOSE messages from 1 on each device, far below.
constexpr std::uint32_t kFirstTransactionId = 0x10000;

// The next transaction id: one count for the whole process that never restarts (after the
// last 32-bit value it goes on at kFirstTransactionId).
std::uint32_t NextTransactionId() {
  static std::atomic<std::uint32_t> next{kFirstTransactionId};
  std::uint32_t id = next.load();
  std::uint32_t following = 0;
  do {
    following = id == std::numeric_limits<std::uint32_t>::max() ? kFirstTransactionId : id + 1;
  } while (!next.compare_exchange_weak(id, following));
  return id;
}

// Which device node a path names (through links), so that a new device at the same path is
// told from the one that was opened.
struct NodeIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  dev_t node = 0;
  bool operator==(const NodeIdentity&) const = default;
};

std::optional<NodeIdentity> IdentityOf(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    return std::nullopt;
  }
  return NodeIdentity{info.st_dev, info.st_ino, info.st_rdev};
}

bool IsGiveUp(const GError* error) {
  return g_error_matches(error, MBIM_CORE_ERROR, MBIM_CORE_ERROR_ABORTED) ||
         g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
}

// One opening of the control port: an open libmbim device. GLib thread only.
struct Opening {
  Opening(std::string port_path, bool through_proxy, NodeIdentity node)
      : path(std::move(port_path)), proxy(through_proxy), identity(node) {
    static std::atomic<std::uint64_t> last_id{0};
    id = ++last_id;
  }
  Opening(const Opening&) = delete;
  Opening& operator=(const Opening&) = delete;
  ~Opening() { Drop(); }

  // Watches the device for its removal and for its report that it is not opened.
  void Watch() {
    removed_handler = g_signal_connect(device.get(), MBIM_DEVICE_SIGNAL_REMOVED,
                                       G_CALLBACK(&Opening::OnRemoved), this);
    error_handler = g_signal_connect(device.get(), MBIM_DEVICE_SIGNAL_ERROR,
                                     G_CALLBACK(&Opening::OnError), this);
  }

  // Closes the device without the MBIM close (nothing waits for a device that may not
  // answer). Commands still pending in libmbim end by their own timeout; libmbim holds the
  // device for them.
  void Drop() {
    usable = false;
    if (!device) {
      return;
    }
    for (gulong* handler : {&removed_handler, &error_handler}) {
      if (*handler != 0) {
        g_signal_handler_disconnect(device.get(), *handler);
        *handler = 0;
      }
    }
    mbim_device_close_force(device.get(), nullptr);
  }

  static void OnRemoved(MbimDevice*, gpointer self) { static_cast<Opening*>(self)->usable = false; }
  static void OnError(MbimDevice*, GError* error, gpointer self) {
    if (g_error_matches(error, MBIM_PROTOCOL_ERROR, MBIM_PROTOCOL_ERROR_NOT_OPENED)) {
      static_cast<Opening*>(self)->usable = false;
    }
  }

  const std::string path;
  const bool proxy;
  const NodeIdentity identity;
  std::uint64_t id = 0;
  GObjectPtr<MbimDevice> device;
  // The modem's device services, read once per opening.
  std::optional<std::vector<MbimUuid>> services;
  bool usable = true;
  gulong removed_handler = 0;
  gulong error_handler = 0;
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
  GObjectPtr<GCancellable> cancellable;  // while libmbim has the command

  bool IsFinished() {
    std::lock_guard<std::mutex> hold(lock);
    return finished;
  }
  void Finish(AsyncStatus final_status,
              std::uint32_t final_code = 0,
              std::vector<std::uint8_t> data = {}) {
    std::lock_guard<std::mutex> hold(lock);
    finished = true;
    status = final_status;
    status_code = final_code;
    response = std::move(data);
  }
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
  *status_code = LoadLe32(raw + kDoneStatusOffset);
  guint32 info_length = 0;
  const guint8* info = mbim_message_command_done_get_raw_information_buffer(message, &info_length);
  if (info != nullptr) {
    data->assign(info, info + info_length);
  }
  return true;
}

// What libmbim's completion of a vendor command needs: the command and the opening it went out
// on.
struct SentCommand {
  std::shared_ptr<CommandState> state;
  std::shared_ptr<Opening> opening;
};

void OnCommandDone(GObject* source, GAsyncResult* result, gpointer user_data) {
  std::unique_ptr<SentCommand> sent(static_cast<SentCommand*>(user_data));
  CommandState& state = *sent->state;
  state.cancellable.reset();
  GError* failure = nullptr;
  MessagePtr message(mbim_device_command_finish(MBIM_DEVICE(source), result, &failure));
  ErrorPtr error(failure);

  AsyncStatus status = AsyncStatus::kError;
  std::uint32_t status_code = 0;
  std::vector<std::uint8_t> data;
  if (!message) {
    if (IsGiveUp(error.get())) {
      status = AsyncStatus::kCanceled;
    } else if (!g_error_matches(error.get(), MBIM_CORE_ERROR, MBIM_CORE_ERROR_TIMEOUT)) {
      // The device could not take the command (it is closed, or writing failed).
      sent->opening->usable = false;
    }
  } else if (mbim_message_get_message_type(message.get()) == MBIM_MESSAGE_TYPE_COMMAND_DONE &&
             ReadDone(message.get(), state, &status_code, &data)) {
    status = AsyncStatus::kCompleted;
  }
  state.Finish(status, status_code, std::move(data));
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

}  // namespace

// The runtime's kept opening of the control port, and the preparation of the port for a call.
// GLib thread only.
class PortKeeper : public std::enable_shared_from_this<PortKeeper> {
 public:
  using Prepared = std::function<void(std::shared_ptr<Opening>)>;

  explicit PortKeeper(std::chrono::milliseconds port_wait) : port_wait_(port_wait) {}
  ~PortKeeper() { Drop(); }

  // Makes the kept opening ready for a call on `path`: drops it when it is not usable or is
  // another port, opens the port when nothing is kept, and reads the device services once per
  // opening. `done` gets the ready opening, or null; it is called within the port wait.
  void Prepare(const std::string& path, bool proxy, Prepared done);

  // The kept opening when it is `id` and usable.
  std::shared_ptr<Opening> Usable(std::uint64_t id) const {
    return kept_ && kept_->id == id && kept_->usable ? kept_ : nullptr;
  }

  // A command of opening `id` went unanswered: the device is dropped, the next call opens the
  // port again.
  void Unanswered(std::uint64_t id) {
    if (kept_ && kept_->id == id) {
      Drop();
    }
  }

  void Drop() {
    if (kept_) {
      kept_->Drop();
      kept_.reset();
    }
  }

 private:
  class Job;

  const std::chrono::milliseconds port_wait_;
  std::shared_ptr<Opening> kept_;
};

// One preparation: a deadline, and the libmbim steps it waits for. Whatever libmbim still
// does after the deadline (an open, a services query) is cancelled; its completion only
// cleans up.
class PortKeeper::Job : public std::enable_shared_from_this<PortKeeper::Job> {
 public:
  Job(std::weak_ptr<PortKeeper> keeper, Prepared done)
      : keeper_(std::move(keeper)), done_(std::move(done)) {}
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;
  // The deadline holds the job until it has run or been stopped, so a deadline left here is
  // one its main context destroys with itself: only the job's own reference goes.
  ~Job() {
    if (deadline_ != nullptr) {
      g_source_unref(deadline_);
    }
  }

  void StartDeadline(std::chrono::milliseconds bound) {
    deadline_ = g_timeout_source_new(static_cast<guint>(bound.count()));
    g_source_set_callback(deadline_, &Job::OnDeadline, Hold(), &Job::Release);
    g_source_attach(deadline_, g_main_context_get_thread_default());
  }

  // GLib: creates and opens the device, then reads its services.
  void Open(const std::string& path, bool proxy, NodeIdentity identity) {
    opening_ = std::make_shared<Opening>(path, proxy, identity);
    GObjectPtr<GFile> file(g_file_new_for_path(path.c_str()));
    mbim_device_new(file.get(), cancellable_.get(), &Job::Created, Hold());
  }

  // GLib: reads the device services of the kept opening.
  void QueryServices(std::shared_ptr<Opening> opening) {
    opening_ = std::move(opening);
    MessagePtr request(mbim_message_device_services_query_new(nullptr));
    mbim_message_set_transaction_id(request.get(), NextTransactionId());
    mbim_device_command(opening_->device.get(), request.get(), MbimRuntime::kCommandTimeoutS,
                        cancellable_.get(), &Job::Answered, Hold());
  }

  // Hands `opening` (or null) to the waiting call, once; later calls do nothing.
  void Finish(std::shared_ptr<Opening> opening) {
    if (finished_) {
      return;
    }
    finished_ = true;
    StopDeadline();
    Prepared done = std::move(done_);
    done(std::move(opening));
  }

 private:
  gpointer Hold() { return new std::shared_ptr<Job>(shared_from_this()); }
  static std::shared_ptr<Job> Take(gpointer held) {
    std::unique_ptr<std::shared_ptr<Job>> holder(static_cast<std::shared_ptr<Job>*>(held));
    return *holder;
  }
  static void Release(gpointer held) { delete static_cast<std::shared_ptr<Job>*>(held); }

  void StopDeadline() {
    if (deadline_ != nullptr) {
      g_source_destroy(deadline_);
      g_source_unref(deadline_);
      deadline_ = nullptr;
    }
  }

  static gboolean OnDeadline(gpointer held) {
    auto& job = *static_cast<std::shared_ptr<Job>*>(held);
    // Keeps the job while the deadline's own hold goes with the source.
    std::shared_ptr<Job> self = job;
    self->Finish(nullptr);
    g_cancellable_cancel(self->cancellable_.get());
    return G_SOURCE_REMOVE;
  }

  static void Created(GObject*, GAsyncResult* result, gpointer held) {
    std::shared_ptr<Job> job = Take(held);
    GError* failure = nullptr;
    job->opening_->device.reset(mbim_device_new_finish(result, &failure));
    ErrorPtr error(failure);
    if (!job->opening_->device || job->finished_) {
      job->Finish(nullptr);
      return;
    }
    mbim_device_open_full(
        job->opening_->device.get(),
        job->opening_->proxy ? MBIM_DEVICE_OPEN_FLAGS_PROXY : MBIM_DEVICE_OPEN_FLAGS_NONE,
        MbimRuntime::kOpenTimeoutS, job->cancellable_.get(), &Job::Opened, Hold(job));
  }

  static void Opened(GObject* source, GAsyncResult* result, gpointer held) {
    std::shared_ptr<Job> job = Take(held);
    GError* failure = nullptr;
    const bool opened = mbim_device_open_full_finish(MBIM_DEVICE(source), result, &failure);
    ErrorPtr error(failure);
    std::shared_ptr<PortKeeper> keeper = job->keeper_.lock();
    if (!opened || job->finished_ || !keeper) {
      // Also an opening given up at the deadline: its channel is closed again.
      job->opening_->Drop();
      job->Finish(nullptr);
      return;
    }
    job->opening_->Watch();
    keeper->Drop();
    keeper->kept_ = job->opening_;
    job->QueryServices(job->opening_);
  }

  static void Answered(GObject* source, GAsyncResult* result, gpointer held) {
    std::shared_ptr<Job> job = Take(held);
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
      // Unanswered in time or not understood: the next call starts on a fresh opening.
      job->opening_->usable = false;
      job->Finish(nullptr);
      return;
    }
    std::vector<MbimUuid> services;
    for (guint32 i = 0; i < count; ++i) {
      services.push_back(elements[i]->device_service_id);
    }
    mbim_device_service_element_array_free(elements);
    job->opening_->services = std::move(services);
    job->Finish(job->opening_);
  }

  static gpointer Hold(const std::shared_ptr<Job>& job) { return new std::shared_ptr<Job>(job); }

  const std::weak_ptr<PortKeeper> keeper_;
  Prepared done_;
  bool finished_ = false;
  GSource* deadline_ = nullptr;
  GObjectPtr<GCancellable> cancellable_{g_cancellable_new()};
  std::shared_ptr<Opening> opening_;
};

void PortKeeper::Prepare(const std::string& path, bool proxy, Prepared done) {
  const std::optional<NodeIdentity> identity = IdentityOf(path);
  if (kept_ && (!kept_->usable || kept_->path != path || kept_->proxy != proxy || !identity ||
                *identity != kept_->identity)) {
    Drop();
  }
  if (!identity) {
    done(nullptr);
    return;
  }
  if (kept_ && kept_->services) {
    done(kept_);
    return;
  }
  auto job = std::make_shared<Job>(weak_from_this(), std::move(done));
  job->StartDeadline(port_wait_);
  if (kept_) {
    job->QueryServices(kept_);
  } else {
    job->Open(path, proxy, *identity);
  }
}

namespace {

// The control port as a modem handle, its device service and its command session see it: the
// port's path and route, and the opening that the device-service lookup made ready.
struct PortLink {
  GlibThread& glib;
  std::shared_ptr<PortKeeper> keeper;
  const std::string path;
  const bool proxy;
  std::optional<std::uint64_t> opening;  // known once the device service was looked up
};

class Session : public mbn_platform::CommandSession {
 public:
  Session(std::shared_ptr<PortLink> link, const MbimUuid& service)
      : link_(std::move(link)), service_(service) {}
  // Releases the session's commands as Close does.
  ~Session() override { Release(); }

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
  // The port stays open; the session's commands are released.
  CallResult Close() override {
    Release();
    return CallResult::Ok();
  }

 private:
  CallResult Send(std::uint32_t command_id,
                  MbimMessageCommandType type,
                  mbn_platform::RequestBuffer& request,
                  std::unique_ptr<mbn_platform::PendingCommand>* pending) {
    auto* buffer = dynamic_cast<Buffer*>(&request);
    if (buffer == nullptr || !link_->opening) {
      return CallResult::Failure();
    }
    auto state = std::make_shared<CommandState>();
    state->service = service_;
    state->cid = command_id;
    commands_.push_back(state);
    // Nothing to wait for: a command that cannot go out completes as an error.
    link_->glib.Post([keeper = link_->keeper, opening_id = *link_->opening, state, type,
                      bytes = buffer->bytes()] {
      std::shared_ptr<Opening> opening = keeper->Usable(opening_id);
      if (!opening) {
        state->Finish(AsyncStatus::kError);
        Deliver(*state);
        return;
      }
      // The vendor service is registered by its UUID alone: libmbim frames its messages and
      // nothing else of libmbim's knowledge of services is used.
      gchar* text = mbim_uuid_get_printable(&state->service);
      const std::string nickname = std::string("halvorn-") + text;
      g_free(text);
      const auto mbim_service =
          static_cast<MbimService>(mbim_register_custom_service(&state->service, nickname.c_str()));
      MessagePtr message(
          mbim_message_command_new(NextTransactionId(), mbim_service, state->cid, type));
      if (!bytes.empty()) {
        mbim_message_command_append(message.get(), bytes.data(),
                                    static_cast<guint32>(bytes.size()));
      }
      state->cancellable.reset(g_cancellable_new());
      mbim_device_command(opening->device.get(), message.get(), MbimRuntime::kCommandTimeoutS,
                          state->cancellable.get(), &OnCommandDone,
                          new SentCommand{state, opening});
    });
    *pending = std::make_unique<Pending>(link_->glib, std::move(state));
    return CallResult::Ok();
  }

  // A command still unanswered is given up: libmbim forgets it (a late answer to it is
  // dropped) and the port is opened afresh for the next call.
  void Release() {
    if (commands_.empty()) {
      return;
    }
    link_->glib.Post([keeper = link_->keeper, opening_id = link_->opening.value_or(0),
                      commands = std::exchange(commands_, {})] {
      bool unanswered = false;
      for (const std::shared_ptr<CommandState>& command : commands) {
        if (!command->IsFinished()) {
          unanswered = true;
          if (command->cancellable) {
            g_cancellable_cancel(command->cancellable.get());
          }
        }
      }
      if (unanswered) {
        keeper->Unanswered(opening_id);
      }
    });
  }

  std::shared_ptr<PortLink> link_;
  const MbimUuid service_;
  std::vector<std::shared_ptr<CommandState>> commands_;
};

class Service : public mbn_platform::DeviceService {
 public:
  Service(std::shared_ptr<PortLink> link, const MbimUuid& service)
      : link_(std::move(link)), service_(service) {}

  CallResult OpenCommandSession(std::unique_ptr<mbn_platform::CommandSession>* session) override {
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

  // Makes the port ready (within the runtime's bound) and answers from its device services.
  CallResult GetDeviceService(const ServiceId& id,
                              std::unique_ptr<mbn_platform::DeviceService>* service) override {
    const MbimUuid uuid = ToMbimUuid(id);
    using Answer = std::optional<std::pair<std::uint64_t, bool>>;
    const Answer answer =
        link_->glib.Await<Answer>([keeper = link_->keeper, path = link_->path, proxy = link_->proxy,
                                   uuid](const std::function<void(Answer)>& done) {
          keeper->Prepare(path, proxy, [uuid, done](const std::shared_ptr<Opening>& opening) {
            if (!opening) {
              done(std::nullopt);
              return;
            }
            bool found = false;
            for (const MbimUuid& listed : *opening->services) {
              found = found || mbim_uuid_cmp(&listed, &uuid);
            }
            done(std::make_pair(opening->id, found));
          });
        });
    if (!answer) {
      return CallResult::Failure();
    }
    link_->opening = answer->first;
    if (answer->second) {
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

MbimRuntime::MbimRuntime(GlibThread& glib, std::chrono::milliseconds port_wait)
    : glib_(glib), keeper_(std::make_shared<PortKeeper>(port_wait)) {}

MbimRuntime::~MbimRuntime() {
  glib_.Await<bool>([keeper = std::move(keeper_)](const std::function<void(bool)>& done) mutable {
    keeper->Drop();
    keeper.reset();
    done(true);
  });
}

CallResult MbimRuntime::GetDefaultModem(std::unique_ptr<mbn_platform::Modem>* modem) {
  std::string port = FindDefaultMbimPort();
  if (!port.empty()) {
    *modem = std::make_unique<Modem>(std::make_shared<PortLink>(
        PortLink{glib_, keeper_, std::move(port), ProxyWanted(), std::nullopt}));
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
  return UdevAccountWatcher::Create(glib_, watcher);
}

}  // namespace halvorn::mbn_linux
