// libFuzzer target for the ICMP packet rules: whatever bytes arrive, from whatever sender, the
// decoder reads nothing outside them, and it settles a request only with a message that is its
// answer (from the destination, with our sequence, identifier and payload whole) or an error that
// quotes it (to the same destination, with our sequence and identifier).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>

#include "probe/icmp_packet.h"

namespace {

using namespace trelvane::icmp;
using trelvane::EchoStatus;

constexpr std::uint8_t kDestination4[4] = {10, 250, 0, 1};
constexpr std::uint8_t kDestination6[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0,
                                            0,    0,    0,    0,    0, 0, 0, 1};
constexpr std::uint16_t kId = 0x1234;
constexpr std::uint16_t kSequence = 7;
constexpr std::string_view kPayload = "PINGECHOICMPTEST";

void Check(bool holds) {
  if (!holds) std::abort();
}

}  // namespace

// The first byte picks the family, the socket kind and whether the sender is the destination;
// the rest is the packet as a socket would deliver it.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t how = data[0];
  const std::span<const std::uint8_t> packet(data + 1, size - 1);
  Expected request;
  request.family = (how & 1) != 0 ? Family::kV6 : Family::kV4;
  const bool raw = (how & 2) != 0;
  if (raw) request.id = kId;
  request.sequence = kSequence;
  request.payload = kPayload;
  request.destination = request.family == Family::kV6
                            ? std::span<const std::uint8_t>(kDestination6)
                            : std::span<const std::uint8_t>(kDestination4);
  const std::uint8_t elsewhere[16] = {192, 0, 2, 9};
  const std::span<const std::uint8_t> source =
      (how & 4) != 0 ? request.destination
                     : std::span<const std::uint8_t>(elsewhere, request.destination.size());

  std::span<const std::uint8_t> message = packet;
  if (raw && request.family == Family::kV4) {
    const auto payload = Ipv4Payload(packet);
    if (!payload) return 0;
    Check(payload->data() >= packet.data() &&
          payload->data() + payload->size() == packet.data() + packet.size());
    message = *payload;
  }
  const auto status = Classify(message, source, request);
  if (!status) return 0;
  const std::optional<Header> header = ReadHeader(message);
  Check(header.has_value());
  if (*status == EchoStatus::kSuccess) {
    Check(header->type == EchoReplyType(request.family) && header->sequence == kSequence);
    Check(!raw || header->id == kId);
    Check((how & 4) != 0);
    Check(message.size() == kHeaderSize + kPayload.size() &&
          std::memcmp(message.data() + kHeaderSize, kPayload.data(), kPayload.size()) == 0);
  } else {
    Check(header->type != EchoReplyType(request.family));
    Check(QuotesRequest(message.subspan(kHeaderSize), request));
  }
  return 0;
}
