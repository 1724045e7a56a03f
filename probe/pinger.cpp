#include "probe/pinger.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace trelvane {

std::string_view StatusWord(EchoStatus status) {
  switch (status) {
    case EchoStatus::kSuccess:
      return "reply";
    case EchoStatus::kTtlExpired:
      return "ttl-expired";
    case EchoStatus::kTimedOut:
      return "timeout";
    case EchoStatus::kBadOption:
      return "bad-option";
    case EchoStatus::kBufferTooSmall:
      return "buffer-too-small";
    case EchoStatus::kOther:
      return "error-reply";
    case EchoStatus::kNoReply:
      return "no-reply-record";
    case EchoStatus::kNotPermitted:
      return "not-permitted";
  }
  return "unknown";
}

std::string Pinger::Ping(std::string_view host) const { return PingResultFor(host).text; }

std::string AddressText(Address address) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&address);
  return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
         std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

std::string AddressText(const Ipv6Address& address) {
  std::array<int, 8> groups{};
  for (std::size_t i = 0; i < 8; ++i)
    groups[i] = address.bytes[2 * i] << 8 | address.bytes[2 * i + 1];
  // The longest run of zero groups, the first of equals, when two or more long.
  std::size_t best = 8, best_length = 1;
  for (std::size_t i = 0; i < 8;) {
    std::size_t j = i;
    while (j < 8 && groups[j] == 0) ++j;
    if (j - i > best_length) {
      best = i;
      best_length = j - i;
    }
    i = j == i ? i + 1 : j;
  }
  std::string text;
  char hex[8];
  for (std::size_t i = 0; i < 8; ++i) {
    if (i == best) {
      text += "::";
      i += best_length - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') text += ':';
    std::snprintf(hex, sizeof(hex), "%x", groups[i]);
    text += hex;
  }
  if (address.scope_id != 0) text += "%" + std::to_string(address.scope_id);
  return text;
}

PingResult Pinger::PingResultFor(std::string_view host) const {
  bool no_such_name = false;
  const std::optional<Target> target = ResolveTarget(host, &no_such_name);
  if (!target) return PingResult{std::string(kErrText), false, no_such_name, {}};
  EchoReply reply;
  if (target->address6) {
    EchoRequest request;
    request.address6 = target->address6;
    request.timeout_ms = kEchoTimeoutMs;
    request.ttl = kEchoTtl;
    request.payload = kEchoPayload;
    reply = service_.SendEcho(request);
  } else {
    reply = SendEcho(target->address, kEchoTimeoutMs, kEchoTtl, kEchoPayload);
  }
  return PingResult{
      ResultText(ReadReply(reply)), reply.status == EchoStatus::kNotPermitted, false,
      target->address6 ? AddressText(*target->address6) : AddressText(target->address)};
}

std::optional<Pinger::Target> Pinger::ResolveTarget(std::string_view host,
                                                    bool* no_such_name) const {
  if (host.find('\0') != std::string_view::npos) return std::nullopt;
  if (host.size() < kNameOnlyLength) {
    const Address parsed = ParseAddress(host);
    if (parsed != kNoAddress && parsed != kAllOnes) return Target{parsed, std::nullopt};
  }
  // An IPv6 literal may come in the brackets of a URL's host ("[::1]").
  std::string_view literal_text = host;
  if (literal_text.size() > 2 && literal_text.front() == '[' && literal_text.back() == ']') {
    literal_text = literal_text.substr(1, literal_text.size() - 2);
  }
  if (std::optional<Ipv6Address> literal = service_.ParseAddress6(literal_text)) {
    return Target{kNoAddress, literal};
  }
  NameError error4 = NameError::kNone;
  if (const Address address = service_.LookupHost(host, &error4); address != kNoAddress) {
    return Target{address, std::nullopt};
  }
  NameError error6 = NameError::kNone;
  if (std::optional<Ipv6Address> address6 = service_.LookupHost6(host, &error6)) {
    return Target{kNoAddress, address6};
  }
  if (no_such_name != nullptr) {
    *no_such_name = error4 == NameError::kNoSuchName && error6 == NameError::kNoSuchName;
  }
  return std::nullopt;
}

Address Pinger::ResolveHost(std::string_view host) const {
  if (host.size() < kNameOnlyLength) {
    const Address parsed = ParseAddress(host);
    if (parsed != kNoAddress && parsed != kAllOnes) return parsed;
  }
  return LookupHost(host);
}

Address Pinger::ParseAddress(std::string_view text) const {
  // A text with a NUL in it would be cut short by the C interfaces behind the service.
  if (text.find('\0') != std::string_view::npos) return kAllOnes;
  return service_.ParseAddress(text);
}

Address Pinger::LookupHost(std::string_view name) const {
  if (name.find('\0') != std::string_view::npos) return kNoAddress;
  return service_.LookupHost(name);
}

EchoReply Pinger::SendEcho(Address address, int timeout_ms, int ttl,
                           std::string_view payload) const {
  const std::int64_t magnitude = std::llabs(static_cast<std::int64_t>(timeout_ms));
  EchoRequest request;
  request.address = address;
  request.timeout_ms = static_cast<int>(std::min<std::int64_t>(magnitude, kMaxEchoTimeoutMs));
  request.ttl = ttl;
  request.payload = payload;
  return service_.SendEcho(request);
}

int Pinger::ReadReply(const EchoReply& reply) {
  switch (reply.status) {
    case EchoStatus::kSuccess:
      return static_cast<int>(std::min<std::uint32_t>(reply.round_trip_ms, INT32_MAX));
    case EchoStatus::kTtlExpired:
      // The request died on the way (a routing loop, a path too long): the host never answered,
      // so it is no answer, whatever time the router's message took.
      return kReplyFailed;
    case EchoStatus::kTimedOut:
      return kReplyTimedOut;
    case EchoStatus::kBadOption:
      return kReplyBadOption;
    case EchoStatus::kBufferTooSmall:
      return kReplyBufferTooSmall;
    case EchoStatus::kOther:
    case EchoStatus::kNoReply:
    case EchoStatus::kNotPermitted:
      return kReplyFailed;
  }
  return kReplyFailed;
}

std::string Pinger::ResultText(int code) {
  switch (code) {
    case kReplyTimedOut:
      return std::string(kTimeoutText);
    case kReplyBadOption:
    case kReplyFailed:
      return std::string(kErrText);
    case kReplyBufferTooSmall:
      return std::string(kSizeErrText);
    default:
      return code >= 0 ? std::to_string(code) + " ms" : std::string(kErrText);
  }
}

}  // namespace trelvane
