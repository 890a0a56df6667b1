#include "client/libmbim_client.h"

#include <libmbim-glib.h>

#include <cstring>
#include <utility>

namespace halvorn::mbimsim {

namespace {

struct GErrorDeleter {
  void operator()(GError* error) const { g_error_free(error); }
};
struct MessageDeleter {
  void operator()(MbimMessage* message) const { mbim_message_unref(message); }
};
struct ObjectDeleter {
  void operator()(void* object) const { g_object_unref(object); }
};
using ErrorPtr = std::unique_ptr<GError, GErrorDeleter>;
using MessagePtr = std::unique_ptr<MbimMessage, MessageDeleter>;
using ResultPtr = std::unique_ptr<GAsyncResult, ObjectDeleter>;
using FilePtr = std::unique_ptr<GFile, ObjectDeleter>;

// Makes the client's context the thread's default for libmbim's sources while it lives.
class ContextScope {
 public:
  explicit ContextScope(GMainContext* context) : context_(context) {
    g_main_context_push_thread_default(context_);
  }
  ~ContextScope() { g_main_context_pop_thread_default(context_); }
  ContextScope(const ContextScope&) = delete;
  ContextScope& operator=(const ContextScope&) = delete;

 private:
  GMainContext* context_;
};

// Collects the result of one asynchronous libmbim call.
struct AsyncWait {
  static void Ready(GObject*, GAsyncResult* result, gpointer self) {
    static_cast<AsyncWait*>(self)->result.reset(static_cast<GAsyncResult*>(g_object_ref(result)));
  }

  // Runs the context until the call has completed.
  GAsyncResult* Run(GMainContext* context) {
    while (!result) {
      g_main_context_iteration(context, TRUE);
    }
    return result.get();
  }

  ResultPtr result;
};

std::string TakeMessage(GError* error) {
  ErrorPtr owned(error);
  return owned ? owned->message : "unknown error";
}

MbimUuid ToMbimUuid(const Uuid& uuid) {
  MbimUuid out;
  static_assert(sizeof(out) == sizeof(Uuid));
  std::memcpy(&out, uuid.data(), uuid.size());
  return out;
}

Uuid FromMbimUuid(const MbimUuid* uuid) {
  Uuid out;
  std::memcpy(out.data(), uuid, out.size());
  return out;
}

// The libmbim service for `uuid`. Every service but Basic Connect is registered as a custom
// service by its UUID, so that nothing depends on what libmbim knows about it.
MbimService ServiceFor(const Uuid& uuid) {
  if (uuid == kBasicConnectService) {
    return MBIM_SERVICE_BASIC_CONNECT;
  }
  const MbimUuid mbim_uuid = ToMbimUuid(uuid);
  return static_cast<MbimService>(
      mbim_register_custom_service(&mbim_uuid, UuidToString(uuid).c_str()));
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// libmbim 1.28 leaks the timer of every command that times out (transaction_timed_out drops
// its reference to the source without releasing it), and the tests time commands out on
// purpose. LeakSanitizer is told about this one leak: only leaks allocated under
// mbim_device_command qualify. Matching needs whole allocation stacks, and GLib is built
// without frame pointers, hence the slow unwinder.
extern "C" const char* __asan_default_options() {
  return "fast_unwind_on_malloc=0";
}
extern "C" const char* __lsan_default_suppressions() {
  return "leak:mbim_device_command\n";
}
#endif

#if defined(__SANITIZE_THREAD__)
// GLib and GIO are not built for ThreadSanitizer, and GLib hands work to its worker pool and
// wakes main contexts through raw futexes and eventfds that ThreadSanitizer cannot see, so
// it reports races between the pool and the thread that started the work. Reports whose
// stacks run through these libraries are dropped; races in our own code are still found.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libglib-2.0.so.0\n"
         "race:libgio-2.0.so.0\n";
}
#endif

LibmbimClient::LibmbimClient() : context_(g_main_context_new()) {}

LibmbimClient::~LibmbimClient() {
  if (device_) {
    ContextScope scope(context_);
    mbim_device_close_force(device_, nullptr);
    g_signal_handlers_disconnect_by_data(device_, this);
    g_object_unref(device_);
    while (g_main_context_iteration(context_, FALSE)) {
    }
  }
  g_main_context_unref(context_);
}

std::unique_ptr<LibmbimClient> LibmbimClient::Open(const std::string& path,
                                                   Route route,
                                                   unsigned timeout_s,
                                                   std::string* error) {
  std::unique_ptr<LibmbimClient> client(new LibmbimClient());
  ContextScope scope(client->context_);

  FilePtr file(g_file_new_for_path(path.c_str()));
  AsyncWait created;
  mbim_device_new(file.get(), nullptr, &AsyncWait::Ready, &created);
  GError* failure = nullptr;
  client->device_ = mbim_device_new_finish(created.Run(client->context_), &failure);
  if (!client->device_) {
    *error = TakeMessage(failure);
    return nullptr;
  }
  g_signal_connect(client->device_, MBIM_DEVICE_SIGNAL_REMOVED,
                   reinterpret_cast<GCallback>(&LibmbimClient::OnRemoved), client.get());

  AsyncWait opened;
  mbim_device_open_full(
      client->device_,
      route == Route::kProxy ? MBIM_DEVICE_OPEN_FLAGS_PROXY : MBIM_DEVICE_OPEN_FLAGS_NONE,
      timeout_s, nullptr, &AsyncWait::Ready, &opened);
  if (!mbim_device_open_full_finish(client->device_, opened.Run(client->context_), &failure)) {
    *error = TakeMessage(failure);
    return nullptr;
  }
  return client;
}

void LibmbimClient::OnRemoved(MbimDevice*, void* self) {
  static_cast<LibmbimClient*>(self)->removed_ = true;
}

CommandResult LibmbimClient::Command(const Uuid& service,
                                     std::uint32_t cid,
                                     std::uint32_t command_type,
                                     ByteSpan payload,
                                     unsigned timeout_s) {
  ContextScope scope(context_);
  MessagePtr request(mbim_message_command_new(0, ServiceFor(service), cid,
                                              static_cast<MbimMessageCommandType>(command_type)));
  if (!payload.empty()) {
    mbim_message_command_append(request.get(), payload.data(),
                                static_cast<guint32>(payload.size()));
  }
  AsyncWait done;
  mbim_device_command(device_, request.get(), timeout_s, nullptr, &AsyncWait::Ready, &done);
  GError* failure = nullptr;
  MessagePtr response(mbim_device_command_finish(device_, done.Run(context_), &failure));

  CommandResult result;
  if (!response) {
    ErrorPtr error(failure);
    result.outcome = g_error_matches(error.get(), MBIM_CORE_ERROR, MBIM_CORE_ERROR_TIMEOUT)
                         ? CommandResult::Outcome::kTimedOut
                         : CommandResult::Outcome::kFailed;
    result.error_code = error->code;
    result.error_message = error->message;
    return result;
  }
  if (mbim_message_get_message_type(response.get()) == MBIM_MESSAGE_TYPE_FUNCTION_ERROR) {
    result.outcome = CommandResult::Outcome::kFunctionError;
    result.error_code = static_cast<int>(mbim_message_error_get_error_status_code(response.get()));
    return result;
  }
  if (mbim_message_get_message_type(response.get()) != MBIM_MESSAGE_TYPE_COMMAND_DONE) {
    result.error_message = "unexpected answer type";
    return result;
  }
  result.outcome = CommandResult::Outcome::kAnswered;
  result.service = FromMbimUuid(mbim_message_command_done_get_service_id(response.get()));
  result.cid = mbim_message_command_done_get_cid(response.get());
  if (!mbim_message_command_done_get_result(response.get(), &failure)) {
    ErrorPtr error(failure);
    // libmbim reports a failed status as an error of its status domain, coded by the status.
    result.status = error->domain == MBIM_STATUS_ERROR ? static_cast<std::uint32_t>(error->code)
                                                       : kStatusFailure;
    result.error_message = error->message;
  }
  guint32 length = 0;
  const guint8* data =
      mbim_message_command_done_get_raw_information_buffer(response.get(), &length);
  if (data) {
    result.data.assign(data, data + length);
  }
  return result;
}

CommandResult LibmbimClient::QueryRadioLevel(unsigned timeout_s) {
  const std::uint8_t request[] = {0x00};
  return Command(kVendorService, kCidRadioLevel, kCommandQuery, request, timeout_s);
}

CommandResult LibmbimClient::SetRadioLevel(std::int32_t level, unsigned timeout_s) {
  const auto value = static_cast<std::uint32_t>(level);
  const std::uint8_t request[] = {
      static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
      static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  return Command(kVendorService, kCidRadioLevel, kCommandSet, request, timeout_s);
}

std::optional<std::vector<ServiceElement>> LibmbimClient::QueryDeviceServices(unsigned timeout_s,
                                                                              std::string* error) {
  ContextScope scope(context_);
  MessagePtr request(mbim_message_device_services_query_new(nullptr));
  AsyncWait done;
  mbim_device_command(device_, request.get(), timeout_s, nullptr, &AsyncWait::Ready, &done);
  GError* failure = nullptr;
  MessagePtr response(mbim_device_command_finish(device_, done.Run(context_), &failure));
  guint32 count = 0;
  guint32 max_dss_sessions = 0;
  MbimDeviceServiceElement** elements = nullptr;
  if (!response ||
      !mbim_message_response_get_result(response.get(), MBIM_MESSAGE_TYPE_COMMAND_DONE, &failure) ||
      !mbim_message_device_services_response_parse(response.get(), &count, &max_dss_sessions,
                                                   &elements, &failure)) {
    *error = TakeMessage(failure);
    return std::nullopt;
  }
  std::vector<ServiceElement> services;
  for (guint32 i = 0; i < count; ++i) {
    ServiceElement element;
    element.service = FromMbimUuid(&elements[i]->device_service_id);
    element.dss_payload = elements[i]->dss_payload;
    element.max_dss_instances = elements[i]->max_dss_instances;
    element.cids.assign(elements[i]->cids, elements[i]->cids + elements[i]->cids_count);
    services.push_back(std::move(element));
  }
  mbim_device_service_element_array_free(elements);
  return services;
}

bool LibmbimClient::Close(unsigned timeout_s, std::string* error) {
  ContextScope scope(context_);
  AsyncWait closed;
  mbim_device_close(device_, timeout_s, nullptr, &AsyncWait::Ready, &closed);
  GError* failure = nullptr;
  if (!mbim_device_close_finish(device_, closed.Run(context_), &failure)) {
    *error = TakeMessage(failure);
    return false;
  }
  return true;
}

}  // namespace halvorn::mbimsim
