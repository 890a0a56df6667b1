#include "mbim_wire.h"

#include <algorithm>
#include <cstdio>

namespace halvorn::mbimsim {

namespace {

void PutU32(Bytes& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

void SetU32(Bytes& out, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    out[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

std::uint32_t GetU32(ByteSpan data, std::size_t offset) {
  return static_cast<std::uint32_t>(data[offset]) |
         static_cast<std::uint32_t>(data[offset + 1]) << 8 |
         static_cast<std::uint32_t>(data[offset + 2]) << 16 |
         static_cast<std::uint32_t>(data[offset + 3]) << 24;
}

void PutBytes(Bytes& out, ByteSpan data) {
  out.insert(out.end(), data.begin(), data.end());
}

Uuid GetUuid(ByteSpan data, std::size_t offset) {
  Uuid uuid;
  std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(offset), uuid.size(), uuid.begin());
  return uuid;
}

// UTF-8 to UTF-16LE. Malformed sequences become U+FFFD.
Bytes Utf16Le(const std::string& text) {
  Bytes out;
  auto put_unit = [&out](std::uint32_t unit) {
    out.push_back(static_cast<std::uint8_t>(unit));
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
  };
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    std::size_t extra = 0;
    std::uint32_t cp = 0;
    if (lead < 0x80) {
      cp = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      cp = lead & 0x1Fu;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      cp = lead & 0x0Fu;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3;
      cp = lead & 0x07u;
    } else {
      put_unit(0xFFFD);
      ++i;
      continue;
    }
    bool ok = i + extra < text.size();
    for (std::size_t k = 1; ok && k <= extra; ++k) {
      const auto cont = static_cast<std::uint8_t>(text[i + k]);
      if ((cont & 0xC0) != 0x80) {
        ok = false;
      } else {
        cp = (cp << 6) | (cont & 0x3Fu);
      }
    }
    if (!ok || cp > 0x10FFFF) {
      put_unit(0xFFFD);
      ++i;
      continue;
    }
    i += extra + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put_unit(0xD800 + (cp >> 10));
      put_unit(0xDC00 + (cp & 0x3FF));
    } else {
      put_unit(cp);
    }
  }
  return out;
}

}  // namespace

std::string UuidToString(const Uuid& uuid) {
  std::string out;
  char hex[3];
  for (std::size_t i = 0; i < uuid.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) {
      out.push_back('-');
    }
    std::snprintf(hex, sizeof(hex), "%02x", uuid[i]);
    out.append(hex);
  }
  return out;
}

bool HasFragmentHeader(std::uint32_t type) {
  return type == kCommandMsg || type == kCommandDoneMsg || type == kIndicateStatusMsg;
}

std::optional<Message> ParseMessage(ByteSpan data) {
  if (data.size() < kHeaderSize || GetU32(data, 4) != data.size()) {
    return std::nullopt;
  }
  Message message;
  message.type = GetU32(data, 0);
  message.transaction_id = GetU32(data, 8);
  std::size_t body_start = kHeaderSize;
  if (HasFragmentHeader(message.type)) {
    if (data.size() < kHeaderSize + kFragmentHeaderSize) {
      return std::nullopt;
    }
    message.total_fragments = GetU32(data, 12);
    message.current_fragment = GetU32(data, 16);
    body_start += kFragmentHeaderSize;
  }
  message.body.assign(data.begin() + static_cast<std::ptrdiff_t>(body_start), data.end());
  return message;
}

std::optional<std::uint32_t> HeaderError(ByteSpan data, std::uint32_t max_length) {
  if (data.size() < 8) {
    return kErrorLengthMismatch;
  }
  const std::uint32_t type = GetU32(data, 0);
  const std::uint32_t length = GetU32(data, 4);
  if (length < kHeaderSize) {
    return kErrorLengthMismatch;
  }
  if (length > max_length) {
    return kErrorMaxTransfer;
  }
  switch (type) {
    case kCloseMsg:
      return length == kHeaderSize ? std::nullopt : std::optional(kErrorLengthMismatch);
    case kOpenMsg:  // MaxControlTransfer
    case kHostErrorMsg:
    case kOpenDoneMsg:
    case kCloseDoneMsg:
    case kFunctionErrorMsg:  // a status or error code
      return length == kHeaderSize + 4 ? std::nullopt : std::optional(kErrorLengthMismatch);
    default:
      if (HasFragmentHeader(type) && length < kHeaderSize + kFragmentHeaderSize) {
        return kErrorLengthMismatch;
      }
      return std::nullopt;
  }
}

Bytes EncodeMessage(std::uint32_t type, std::uint32_t transaction_id, ByteSpan body) {
  Bytes out;
  out.reserve(kHeaderSize + body.size());
  PutU32(out, type);
  PutU32(out, static_cast<std::uint32_t>(kHeaderSize + body.size()));
  PutU32(out, transaction_id);
  PutBytes(out, body);
  return out;
}

std::vector<Bytes> EncodeFragments(std::uint32_t type,
                                   std::uint32_t transaction_id,
                                   ByteSpan body,
                                   std::uint32_t max_transfer) {
  const std::size_t room =
      std::max(max_transfer, kMinMaxControlTransfer) - kHeaderSize - kFragmentHeaderSize;
  const std::size_t total = std::max<std::size_t>(1, (body.size() + room - 1) / room);
  std::vector<Bytes> fragments;
  for (std::size_t i = 0; i < total; ++i) {
    const ByteSpan piece = body.subspan(i * room, std::min(room, body.size() - i * room));
    Bytes out;
    out.reserve(kHeaderSize + kFragmentHeaderSize + piece.size());
    PutU32(out, type);
    PutU32(out, static_cast<std::uint32_t>(kHeaderSize + kFragmentHeaderSize + piece.size()));
    PutU32(out, transaction_id);
    PutU32(out, static_cast<std::uint32_t>(total));
    PutU32(out, static_cast<std::uint32_t>(i));
    PutBytes(out, piece);
    fragments.push_back(std::move(out));
  }
  return fragments;
}

std::optional<Command> ParseCommandBody(ByteSpan body) {
  constexpr std::size_t kFixed = kCommandFixedSize - kHeaderSize - kFragmentHeaderSize;
  if (body.size() < kFixed || GetU32(body, 24) != body.size() - kFixed) {
    return std::nullopt;
  }
  Command command;
  command.service = GetUuid(body, 0);
  command.cid = GetU32(body, 16);
  command.command_type = GetU32(body, 20);
  command.data.assign(body.begin() + kFixed, body.end());
  return command;
}

std::optional<CommandDone> ParseCommandDoneBody(ByteSpan body) {
  constexpr std::size_t kFixed = kCommandFixedSize - kHeaderSize - kFragmentHeaderSize;
  if (body.size() < kFixed || GetU32(body, 24) != body.size() - kFixed) {
    return std::nullopt;
  }
  CommandDone done;
  done.service = GetUuid(body, 0);
  done.cid = GetU32(body, 16);
  done.status = GetU32(body, 20);
  done.data.assign(body.begin() + kFixed, body.end());
  return done;
}

Bytes CommandBody(const Command& command) {
  Bytes out;
  PutBytes(out, command.service);
  PutU32(out, command.cid);
  PutU32(out, command.command_type);
  PutU32(out, static_cast<std::uint32_t>(command.data.size()));
  PutBytes(out, command.data);
  return out;
}

Bytes CommandDoneBody(const CommandDone& done) {
  Bytes out;
  PutBytes(out, done.service);
  PutU32(out, done.cid);
  PutU32(out, done.status);
  PutU32(out, static_cast<std::uint32_t>(done.data.size()));
  PutBytes(out, done.data);
  return out;
}

Bytes EncodeOpen(std::uint32_t transaction_id, std::uint32_t max_transfer) {
  Bytes body;
  PutU32(body, max_transfer);
  return EncodeMessage(kOpenMsg, transaction_id, body);
}

Bytes EncodeClose(std::uint32_t transaction_id) {
  return EncodeMessage(kCloseMsg, transaction_id, {});
}

Bytes EncodeOpenDone(std::uint32_t transaction_id, std::uint32_t status) {
  Bytes body;
  PutU32(body, status);
  return EncodeMessage(kOpenDoneMsg, transaction_id, body);
}

Bytes EncodeCloseDone(std::uint32_t transaction_id, std::uint32_t status) {
  Bytes body;
  PutU32(body, status);
  return EncodeMessage(kCloseDoneMsg, transaction_id, body);
}

Bytes EncodeFunctionError(std::uint32_t transaction_id, std::uint32_t error) {
  Bytes body;
  PutU32(body, error);
  return EncodeMessage(kFunctionErrorMsg, transaction_id, body);
}

std::vector<Bytes> EncodeCommand(std::uint32_t transaction_id,
                                 const Command& command,
                                 std::uint32_t max_transfer) {
  return EncodeFragments(kCommandMsg, transaction_id, CommandBody(command), max_transfer);
}

std::vector<Bytes> EncodeCommandDone(std::uint32_t transaction_id,
                                     const CommandDone& done,
                                     std::uint32_t max_transfer) {
  return EncodeFragments(kCommandDoneMsg, transaction_id, CommandDoneBody(done), max_transfer);
}

Bytes DeviceServicesInfo(const std::vector<ServiceElement>& services,
                         std::uint32_t max_dss_sessions) {
  Bytes out;
  PutU32(out, static_cast<std::uint32_t>(services.size()));
  PutU32(out, max_dss_sessions);
  const std::size_t pairs_at = out.size();
  out.resize(out.size() + 8 * services.size());
  for (std::size_t i = 0; i < services.size(); ++i) {
    const ServiceElement& element = services[i];
    const std::size_t start = out.size();
    PutBytes(out, element.service);
    PutU32(out, element.dss_payload);
    PutU32(out, element.max_dss_instances);
    PutU32(out, static_cast<std::uint32_t>(element.cids.size()));
    for (std::uint32_t cid : element.cids) {
      PutU32(out, cid);
    }
    SetU32(out, pairs_at + 8 * i, static_cast<std::uint32_t>(start));
    SetU32(out, pairs_at + 8 * i + 4, static_cast<std::uint32_t>(out.size() - start));
  }
  return out;
}

bool IsSubscribeList(ByteSpan info) {
  constexpr std::uint64_t kEntryFixedSize = 16 + 4;  // DeviceServiceId, CidCount
  if (info.size() < 4) {
    return false;
  }
  // In 64 bits, so that no count, offset or size can wrap around.
  const std::uint64_t count = GetU32(info, 0);
  const std::uint64_t pairs_end = 4 + 8 * count;
  if (pairs_end > info.size()) {
    return false;
  }
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t offset = GetU32(info, 4 + 8 * i);
    const std::uint64_t size = GetU32(info, 8 + 8 * i);
    if (offset < pairs_end || size < kEntryFixedSize || offset + size > info.size()) {
      return false;
    }
    const std::uint64_t cids = GetU32(info, static_cast<std::size_t>(offset) + 16);
    if (kEntryFixedSize + 4 * cids > size) {
      return false;
    }
  }
  return true;
}

Bytes DeviceCapsInfo(const DeviceCaps& caps) {
  Bytes out;
  for (std::uint32_t value :
       {caps.device_type, caps.cellular_class, caps.voice_class, caps.sim_class, caps.data_class,
        caps.sms_caps, caps.control_caps, caps.max_sessions}) {
    PutU32(out, value);
  }
  const std::string* strings[] = {&caps.custom_data_class, &caps.device_id, &caps.firmware_info,
                                  &caps.hardware_info};
  const std::size_t pairs_at = out.size();
  out.resize(out.size() + 8 * std::size(strings));
  for (std::size_t i = 0; i < std::size(strings); ++i) {
    const Bytes text = Utf16Le(*strings[i]);
    if (text.empty()) {
      continue;  // offset and size stay 0
    }
    SetU32(out, pairs_at + 8 * i, static_cast<std::uint32_t>(out.size()));
    SetU32(out, pairs_at + 8 * i + 4, static_cast<std::uint32_t>(text.size()));
    PutBytes(out, text);
    out.resize((out.size() + 3) & ~std::size_t{3});
  }
  return out;
}

void MessageStream::Append(ByteSpan data) {
  PutBytes(buffer_, data);
}

std::optional<Bytes> MessageStream::Next(std::uint32_t max_length) {
  if (skipping_ && !SkipToHeader(max_length)) {
    return std::nullopt;
  }
  if (buffer_.size() < 8) {
    return std::nullopt;
  }
  // Cut at the header when it cannot start a message, else at its length.
  const bool refused = HeaderError(buffer_, max_length).has_value();
  const std::size_t cut = refused ? kHeaderSize : std::size_t{GetU32(buffer_, 4)};
  if (buffer_.size() < cut) {
    return std::nullopt;
  }
  skipping_ = refused;
  Bytes message(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(cut));
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(cut));
  return message;
}

bool MessageStream::SkipToHeader(std::uint32_t max_length) {
  auto known = [](std::uint32_t type) {
    return (type >= kOpenMsg && type <= kHostErrorMsg) ||
           (type >= kOpenDoneMsg && type <= kFunctionErrorMsg) || type == kIndicateStatusMsg;
  };
  std::size_t at = 0;
  for (; at + 8 <= buffer_.size(); ++at) {
    const ByteSpan rest = ByteSpan(buffer_).subspan(at);
    if (known(GetU32(rest, 0)) && !HeaderError(rest, max_length)) {
      skipping_ = false;
      break;
    }
  }
  discarded_ += at;
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(at));
  return !skipping_;
}

FragmentCollector::Result FragmentCollector::Add(const Message& fragment) {
  if (!message_) {
    if (fragment.current_fragment != 0 || fragment.total_fragments == 0) {
      return Result::kOutOfSequence;
    }
    message_ = fragment;
  } else {
    if (fragment.current_fragment != next_ || fragment.type != message_->type ||
        fragment.transaction_id != message_->transaction_id ||
        fragment.total_fragments != message_->total_fragments) {
      message_.reset();
      next_ = 0;
      return Result::kOutOfSequence;
    }
    PutBytes(message_->body, fragment.body);
  }
  next_ = fragment.current_fragment + 1;
  return next_ == message_->total_fragments ? Result::kComplete : Result::kIncomplete;
}

Message FragmentCollector::Take() {
  Message whole = std::move(*message_);
  message_.reset();
  next_ = 0;
  whole.total_fragments = 1;
  whole.current_fragment = 0;
  return whole;
}

}  // namespace halvorn::mbimsim
