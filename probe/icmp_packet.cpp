#include "probe/icmp_packet.h"

#include <algorithm>
#include <cstring>

namespace trelvane::icmp {
namespace {

std::uint16_t ReadBigEndian16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

void WriteBigEndian16(std::uint8_t* bytes, std::uint16_t value) {
  bytes[0] = static_cast<std::uint8_t>(value >> 8);
  bytes[1] = static_cast<std::uint8_t>(value & 0xFF);
}

bool SameBytes(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

// Our identifier, where it is checked, and our sequence.
bool OursById(const Header& header, const Expected& request) {
  return header.sequence == request.sequence && (!request.id || header.id == *request.id);
}

// The original IP header an error quotes, where it went, and the original message after it.
struct Quote {
  std::span<const std::uint8_t> destination;
  std::span<const std::uint8_t> message;
};

std::optional<Quote> ReadQuote(std::span<const std::uint8_t> quoted, Family family) {
  if (family == Family::kV6) {
    if (quoted.size() < kIpv6HeaderSize || (quoted[0] >> 4) != 6) return std::nullopt;
    if (quoted[6] != kNextHeaderIcmp6) return std::nullopt;
    return Quote{quoted.subspan(24, 16), quoted.subspan(kIpv6HeaderSize)};
  }
  if (quoted.size() < kMinIpv4HeaderSize) return std::nullopt;
  const std::size_t ihl = static_cast<std::size_t>(quoted[0] & 0x0F) * 4;
  if (ihl < kMinIpv4HeaderSize || quoted.size() < ihl || quoted[9] != kProtocolIcmp) {
    return std::nullopt;
  }
  return Quote{quoted.subspan(16, 4), quoted.subspan(ihl)};
}

}  // namespace

bool IsError(Family family, std::uint8_t type) {
  if (family == Family::kV6) {
    return type == kDestUnreachable6 || type == kPacketTooBig6 || type == kTimeExceeded6 ||
           type == kParameterProblem6;
  }
  return type == kDestUnreachable || type == kSourceQuench || type == kTimeExceeded ||
         type == kParameterProblem;
}

std::optional<Header> ReadHeader(std::span<const std::uint8_t> message) {
  if (message.size() < kHeaderSize) return std::nullopt;
  Header header;
  header.type = message[0];
  header.code = message[1];
  std::memcpy(&header.checksum, message.data() + 2, 2);
  header.id = ReadBigEndian16(message.data() + 4);
  header.sequence = ReadBigEndian16(message.data() + 6);
  return header;
}

std::uint8_t EchoRequestType(Family family) {
  return family == Family::kV6 ? kEcho6Request : kEchoRequest;
}

std::uint8_t EchoReplyType(Family family) {
  return family == Family::kV6 ? kEcho6Reply : kEchoReply;
}

std::uint16_t Checksum(std::span<const std::uint8_t> data) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
    std::uint16_t word;
    std::memcpy(&word, data.data() + i, 2);
    sum += word;
  }
  if (data.size() % 2 != 0) {
    std::uint16_t word = 0;
    std::memcpy(&word, data.data() + data.size() - 1, 1);
    sum += word;
  }
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

std::vector<std::uint8_t> BuildEchoRequest(Family family, std::uint16_t id, std::uint16_t sequence,
                                           std::string_view payload) {
  std::vector<std::uint8_t> packet(kHeaderSize + payload.size());
  packet[0] = EchoRequestType(family);
  WriteBigEndian16(packet.data() + 4, id);
  WriteBigEndian16(packet.data() + 6, sequence);
  std::memcpy(packet.data() + kHeaderSize, payload.data(), payload.size());
  if (family == Family::kV4) {
    const std::uint16_t sum = Checksum(packet);
    std::memcpy(packet.data() + 2, &sum, 2);
  }
  return packet;
}

std::optional<std::span<const std::uint8_t>> Ipv4Payload(std::span<const std::uint8_t> packet) {
  if (packet.size() < kMinIpv4HeaderSize) return std::nullopt;
  const std::size_t ihl = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
  if (ihl < kMinIpv4HeaderSize || ihl > packet.size()) return std::nullopt;
  return packet.subspan(ihl);
}

bool QuotesRequest(std::span<const std::uint8_t> quoted, const Expected& request) {
  const std::optional<Quote> quote = ReadQuote(quoted, request.family);
  if (!quote || !SameBytes(quote->destination, request.destination)) return false;
  const std::optional<Header> inner = ReadHeader(quote->message);
  return inner && inner->type == EchoRequestType(request.family) && OursById(*inner, request);
}

EchoStatus ErrorStatus(Family family, std::uint8_t type, std::uint8_t code) {
  const bool expired = family == Family::kV6
                           ? type == kTimeExceeded6 && code == kHopLimitExceeded6
                           : type == kTimeExceeded && code == kTtlExceededInTransit;
  return expired ? EchoStatus::kTtlExpired : EchoStatus::kOther;
}

std::optional<EchoStatus> Classify(std::span<const std::uint8_t> message,
                                   std::span<const std::uint8_t> source, const Expected& request) {
  const std::optional<Header> header = ReadHeader(message);
  if (!header) return std::nullopt;
  if (request.family == Family::kV4 && Checksum(message) != 0) return std::nullopt;
  const std::span<const std::uint8_t> data = message.subspan(kHeaderSize);
  if (header->type == EchoReplyType(request.family)) {
    const bool answers =
        SameBytes(source, request.destination) && header->code == 0 && OursById(*header, request) &&
        SameBytes(data, {reinterpret_cast<const std::uint8_t*>(request.payload.data()),
                         request.payload.size()});
    if (!answers) return std::nullopt;
    return EchoStatus::kSuccess;
  }
  if (IsError(request.family, header->type) && QuotesRequest(data, request)) {
    return ErrorStatus(request.family, header->type, header->code);
  }
  return std::nullopt;
}

}  // namespace trelvane::icmp
