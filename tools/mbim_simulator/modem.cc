#include "modem.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace halvorn::mbimsim {

namespace {

std::uint32_t TransactionIdOf(ByteSpan message) {
  if (message.size() < kHeaderSize) {
    return 0;
  }
  return static_cast<std::uint32_t>(message[8]) | static_cast<std::uint32_t>(message[9]) << 8 |
         static_cast<std::uint32_t>(message[10]) << 16 |
         static_cast<std::uint32_t>(message[11]) << 24;
}

Reaction Send(Bytes message) {
  Reaction reaction;
  reaction.messages.push_back(std::move(message));
  return reaction;
}

Bytes LevelBytes(std::int32_t level) {
  const auto value = static_cast<std::uint32_t>(level);
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

}  // namespace

Modem::Modem(ModemOptions options)
    : options_(std::move(options)),
      level_(options_.initial_level),
      faults_left_(options_.fault_count) {}

Reaction Modem::Handle(ByteSpan bytes) {
  // A header that cannot start a message the modem takes (the message stream hands over
  // such headers alone), then one whose length field disagrees with the bytes.
  if (std::optional<std::uint32_t> error = HeaderError(bytes, kModemMaxControlMessage)) {
    return Send(EncodeFunctionError(TransactionIdOf(bytes), *error));
  }
  std::optional<Message> message = ParseMessage(bytes);
  if (!message) {
    return Send(EncodeFunctionError(TransactionIdOf(bytes), kErrorLengthMismatch));
  }
  const std::uint32_t tid = message->transaction_id;
  switch (message->type) {
    case kOpenMsg: {
      if (TakeMessageFault(Fault::kSilentOpen)) {
        return {};
      }
      // HeaderError() saw to the four bytes of MaxControlTransfer.
      const std::uint32_t requested = static_cast<std::uint32_t>(message->body[0]) |
                                      static_cast<std::uint32_t>(message->body[1]) << 8 |
                                      static_cast<std::uint32_t>(message->body[2]) << 16 |
                                      static_cast<std::uint32_t>(message->body[3]) << 24;
      if (requested < kMinMaxControlTransfer) {
        // No answer could be cut to fit; the session stays as it was.
        return Send(EncodeFunctionError(tid, kErrorMaxTransfer));
      }
      max_transfer_ = requested;
      open_ = true;
      partial_.clear();
      Reaction reaction = Send(EncodeOpenDone(tid, kStatusSuccess));
      reaction.new_session = true;
      return reaction;
    }
    case kCloseMsg:
      open_ = false;
      partial_.clear();
      if (TakeMessageFault(Fault::kSilentClose)) {
        return {};
      }
      return Send(EncodeCloseDone(tid, kStatusSuccess));
    case kHostErrorMsg:
      // The host gave up on this transaction; so do we.
      partial_.erase(tid);
      return {};
    case kCommandMsg:
      break;
    default:
      return Send(EncodeFunctionError(tid, kErrorUnknown));
  }

  if (!open_) {
    return Send(EncodeFunctionError(tid, kErrorNotOpened));
  }
  if (message->total_fragments != 1 || message->current_fragment != 0 || partial_.count(tid)) {
    FragmentCollector& collector = partial_[tid];
    switch (collector.Add(*message)) {
      case FragmentCollector::Result::kIncomplete:
        return {};
      case FragmentCollector::Result::kOutOfSequence:
        partial_.erase(tid);
        return Send(EncodeFunctionError(tid, kErrorFragmentOutOfSequence));
      case FragmentCollector::Result::kComplete:
        message = collector.Take();
        partial_.erase(tid);
        break;
    }
  }
  std::optional<Command> command = ParseCommandBody(message->body);
  if (!command) {
    return Send(EncodeFunctionError(tid, kErrorLengthMismatch));
  }
  received_.push_back({tid, *command});
  return HandleCommand(tid, *command);
}

Reaction Modem::HandleCommand(std::uint32_t tid, const Command& command) {
  if (command.service == kBasicConnectService) {
    if (command.cid == kCidDeviceCaps && command.command_type == kCommandQuery) {
      return Answer(tid, command, kStatusSuccess, DeviceCapsInfo(options_.caps));
    }
    if (command.cid == kCidDeviceServices && command.command_type == kCommandQuery) {
      std::vector<ServiceElement> services = {
          {kBasicConnectService,
           0,
           0,
           {kCidDeviceCaps, kCidDeviceServices, kCidDeviceServiceSubscribeList}}};
      if (options_.vendor_service) {
        services.push_back({kVendorService, 0, 0, {kCidRadioLevel}});
      }
      return Answer(tid, command, kStatusSuccess, DeviceServicesInfo(services, 0));
    }
    if (command.cid == kCidDeviceServiceSubscribeList && command.command_type == kCommandSet) {
      // This modem sends no indications; it accepts any well-formed list and reports it back.
      if (!IsSubscribeList(command.data)) {
        return Answer(tid, command, kStatusInvalidParameters);
      }
      return Answer(tid, command, kStatusSuccess, command.data);
    }
  } else if (command.service == kVendorService && options_.vendor_service &&
             command.cid == kCidRadioLevel &&
             (command.command_type == kCommandQuery || command.command_type == kCommandSet)) {
    // Answers held back by the late fault go out first, ahead of this command's own.
    std::vector<Bytes> late = std::exchange(held_, {});
    Reaction reaction = HandleRadioLevel(tid, command);
    reaction.messages.insert(reaction.messages.begin(), late.begin(), late.end());
    return reaction;
  }
  return Answer(tid, command, kStatusNoDeviceSupport);
}

Reaction Modem::HandleRadioLevel(std::uint32_t tid, const Command& command) {
  const bool is_set = command.command_type == kCommandSet;
  const Fault fault = TakeFault(command.command_type) ? options_.fault : Fault::kNone;
  switch (fault) {
    case Fault::kStatus:
      return Answer(tid, command, options_.fault_status);
    case Fault::kNoAnswer:
      return {};
    case Fault::kVanish: {
      Reaction reaction;
      reaction.vanish = true;
      return reaction;
    }
    case Fault::kRefuseSet:
      return Answer(tid, command, kStatusOperationNotAllowed);
    case Fault::kIgnoreSet:
      return Answer(tid, command, kStatusSuccess);
    case Fault::kShortResponse: {
      Bytes level = LevelBytes(level_);
      level.resize(std::min<std::size_t>(options_.short_length, 3));
      return Answer(tid, command, kStatusSuccess, std::move(level));
    }
    case Fault::kNone:
    case Fault::kDelay:
    case Fault::kWrongTransactionId:
    case Fault::kLateAnswer:
    case Fault::kGarbled:
    case Fault::kSilentOpen:
    case Fault::kSilentClose:
      break;
  }

  // A faulty modem may answer under the wrong transaction id, after doing the work.
  const std::uint32_t answer_tid = fault == Fault::kWrongTransactionId ? tid + 1 : tid;
  Reaction reaction;
  if (is_set) {
    if (command.data.size() != 4) {
      reaction = Answer(answer_tid, command, kStatusInvalidParameters);
    } else {
      level_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(command.data[0]) |
                                         static_cast<std::uint32_t>(command.data[1]) << 8 |
                                         static_cast<std::uint32_t>(command.data[2]) << 16 |
                                         static_cast<std::uint32_t>(command.data[3]) << 24);
      reaction = Answer(answer_tid, command, kStatusSuccess);
    }
  } else {
    Bytes data = LevelBytes(level_);
    for (std::uint32_t i = 0; i < options_.query_padding; ++i) {
      data.push_back(static_cast<std::uint8_t>(i));
    }
    reaction = Answer(answer_tid, command, kStatusSuccess, std::move(data));
  }
  if (fault == Fault::kDelay) {
    reaction.delay = options_.delay;
  }
  if (fault == Fault::kLateAnswer) {
    held_.insert(held_.end(), reaction.messages.begin(), reaction.messages.end());
    reaction.messages.clear();
  }
  if (fault == Fault::kGarbled && !reaction.messages.empty()) {
    // The length field (bytes 4 to 7) claims more bytes than the message has: the host takes
    // what follows on the stream as the rest of this message.
    Bytes& first = reaction.messages.front();
    const auto length = static_cast<std::uint32_t>(first.size() + kGarbledExtraLength);
    for (int i = 0; i < 4; ++i) {
      first[4 + i] = static_cast<std::uint8_t>(length >> (8 * i));
    }
  }
  return reaction;
}

bool Modem::TakeFault(std::uint32_t command_type) {
  bool applies = false;
  switch (options_.fault) {
    case Fault::kNone:
      return false;
    case Fault::kRefuseSet:
    case Fault::kIgnoreSet:
      applies = command_type == kCommandSet;
      break;
    case Fault::kShortResponse:
      applies = command_type == kCommandQuery;
      break;
    case Fault::kSilentOpen:
    case Fault::kSilentClose:
      return false;
    default:
      applies = options_.fault_target == FaultTarget::kBoth ||
                (options_.fault_target == FaultTarget::kQuery) == (command_type == kCommandQuery);
      break;
  }
  if (!applies || faults_left_ == 0) {
    return false;
  }
  if (faults_left_ > 0) {
    --faults_left_;
  }
  return true;
}

bool Modem::TakeMessageFault(Fault fault) {
  if (options_.fault != fault || faults_left_ == 0) {
    return false;
  }
  if (faults_left_ > 0) {
    --faults_left_;
  }
  return true;
}

Reaction Modem::Answer(std::uint32_t tid,
                       const Command& command,
                       std::uint32_t status,
                       Bytes data) const {
  CommandDone done;
  done.service = command.service;
  done.cid = command.cid;
  done.status = status;
  done.data = std::move(data);
  Reaction reaction;
  reaction.messages = EncodeCommandDone(tid, done, max_transfer_);
  return reaction;
}

}  // namespace halvorn::mbimsim
