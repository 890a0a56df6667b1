// Fuzzes the modem helper's reading of the vendor command's answer (final state, status code
// and response bytes) into the radio function level and the result of GetMbimCfun and
// SetMbimCfun, over the scripted runtime of the tests.
//
// The input is: one byte of flags (bit 0: the set, else the query; bits 1-4: the runtime call
// that raises a failure, by its number in the fake's Raise list, none past the end; bit 5: the
// raised failure is a standard one; bit 6: the modem has no vendor service; bit 7: the service
// opens no session), one byte of modem lookups that find a modem (0, 1, then "always"), the
// final state as a 4-byte little-endian number (any value the runtime might report), the status
// code as 4 bytes, and the response bytes, the rest of the input. Missing bytes read as zero.
//
// Besides the sanitizers' findings it checks the outcome against the command's contract: true
// only for a completed command with status code 0 (and, for the query, at least four response
// bytes, whose first four are the level in little-endian order); the level written only then;
// the session closed on every way that does not raise; exactly the request bytes sent.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "fake_runtime.h"
#include "mbn/mbn_helper.h"

namespace {

using halvorn::mbn_platform::AsyncStatus;
using halvorn::testing::Raise;

constexpr Raise kRaises[] = {Raise::kNone,
                             Raise::kGetDefaultModemSecond,
                             Raise::kGetDeviceService,
                             Raise::kOpenCommandSession,
                             Raise::kMakeRequest,
                             Raise::kSend,
                             Raise::kSetCompleted,
                             Raise::kGetResults,
                             Raise::kClose};

std::uint32_t Le32(const std::uint8_t* data, std::size_t size, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    v |= static_cast<std::uint32_t>(at + i < size ? data[at + i] : 0) << (8 * i);
  }
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::uint8_t flags = size > 0 ? data[0] : 0;
  const std::uint8_t lookups = size > 1 ? data[1] : 0;
  const bool set = (flags & 1) != 0;
  const std::size_t raise_index = (flags >> 1) & 0xF;
  const Raise raise = raise_index < std::size(kRaises) ? kRaises[raise_index] : Raise::kNone;

  halvorn::testing::FakeRuntime runtime;
  runtime.script.modem_lookups_present = lookups < 2 ? lookups : 1000;
  runtime.script.has_service = (flags & 0x40) == 0;
  runtime.script.has_session = (flags & 0x80) == 0;
  runtime.script.raise = raise;
  runtime.script.raise_std = (flags & 0x20) != 0;
  runtime.script.final_status =
      static_cast<AsyncStatus>(static_cast<std::int32_t>(Le32(data, size, 2)));
  runtime.script.status_code = Le32(data, size, 6);
  runtime.script.response.assign(data + std::min<std::size_t>(size, 10), data + size);

  halvorn::CMbnWinRtHelper helper(runtime, nullptr);
  constexpr std::int32_t kCallersLevel = 0x5A5A5A5A;
  std::int32_t level = kCallersLevel;
  const bool result = set ? helper.SetMbimCfun() : helper.GetMbimCfun(&level);

  // Where the call can get to, from the script.
  const bool reaches_session =
      runtime.script.modem_lookups_present > 1 && runtime.script.has_service &&
      runtime.script.has_session && raise != Raise::kGetDefaultModemSecond &&
      raise != Raise::kGetDeviceService && raise != Raise::kOpenCommandSession;
  const bool sends = reaches_session && raise != Raise::kMakeRequest;
  const bool waited = sends && raise != Raise::kSend && raise != Raise::kSetCompleted;
  const bool completed = waited && runtime.script.final_status == AsyncStatus::kCompleted;
  const bool results_raise = completed && raise == Raise::kGetResults;
  const auto& response = runtime.script.response;
  const bool accepted = completed && !results_raise && runtime.script.status_code == 0 &&
                        (set || response.size() >= 4);

  if (result != accepted) {
    std::abort();  // the outcome disagrees with the answer
  }
  const std::int32_t expected_level =
      accepted && !set ? static_cast<std::int32_t>(Le32(response.data(), response.size(), 0))
                       : kCallersLevel;
  if (level != expected_level) {
    std::abort();  // the level is not the answer's first four bytes, or written on failure
  }
  const std::vector<std::string> expected_sent = {set ? "set 1 01000000" : "query 1 00"};
  if (sends && raise != Raise::kSend ? runtime.record.sent != expected_sent
                                     : !runtime.record.sent.empty()) {
    std::abort();  // other request bytes than the command's
  }
  const bool closes = waited && !results_raise && raise != Raise::kClose;
  if (runtime.record.closes != (closes ? 1 : 0)) {
    std::abort();  // the session not closed on a way that does not raise, or closed twice
  }
  return 0;
}
