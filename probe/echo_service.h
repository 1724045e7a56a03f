#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace trelvane {

// An IPv4 address in network byte order, as inet_addr() gives it. 0 stands for no address.
using Address = std::uint32_t;
inline constexpr Address kNoAddress = 0;
inline constexpr Address kAllOnes = 0xFFFFFFFFu;

// An IPv6 address in network byte order, with its zone (the interface's index for a link-local
// address, 0 for none).
struct Ipv6Address {
  std::array<std::uint8_t, 16> bytes{};
  std::uint32_t scope_id = 0;
  bool operator==(const Ipv6Address&) const = default;
};

// Why a name gave no address.
enum class NameError {
  kNone,
  kNoSuchName,  // the resolver's definite answer: the name does not exist (HOST_NOT_FOUND)
  kOther,       // a temporary failure (TRY_AGAIN: what a dead link gives), or no address of the
                // family asked for
};

// What became of one echo request.
enum class EchoStatus {
  kSuccess,         // a matching echo reply came back
  kTtlExpired,      // a "time exceeded in transit" error quoting the request came back
  kTimedOut,        // nothing matching arrived before the timeout
  kBadOption,       // the echo service rejected an option of the request
  kBufferTooSmall,  // the reply did not fit the reply buffer
  kOther,           // destination unreachable, any other error reply, or a send that failed
  kNoReply,         // the request left no reply record (no ICMP socket or handle could be opened)
  kNotPermitted,    // no ICMP socket may be opened: the program lacks the privilege
};

// Turns a status into one word for diagnostics ("reply", "ttl-expired", ...).
std::string_view StatusWord(EchoStatus status);

struct EchoRequest {
  Address address = kNoAddress;
  // When set, the request goes over ICMPv6 to this address, and `address` is not used.
  std::optional<Ipv6Address> address6;
  int timeout_ms = 0;  // already made positive and capped by the caller
  int ttl = 0;
  std::string_view payload;
};

struct EchoReply {
  EchoStatus status = EchoStatus::kNoReply;
  // Round-trip time of kSuccess and kTtlExpired, truncated to whole milliseconds.
  std::uint32_t round_trip_ms = 0;
  // The same time in microseconds where the backend measures that finely, else -1.
  std::int64_t round_trip_us = -1;
};

// The platform's name resolver and ICMP echo service. Implementations keep no state between calls
// and may be used from several threads at once.
class EchoService {
 public:
  virtual ~EchoService() = default;

  // inet_addr() semantics: the address of a dotted text, or kAllOnes for any other text.
  virtual Address ParseAddress(std::string_view text) = 0;

  // The first IPv4 address of the name, or kNoAddress when it cannot be resolved (and then, when
  // `error` is given, why).
  virtual Address LookupHost(std::string_view name, NameError* error = nullptr) = 0;

  // An IPv6 literal ("2001:db8::1", "::1", "fe80::1%eth0"; brackets are taken off before), or
  // nothing for any other text.
  virtual std::optional<Ipv6Address> ParseAddress6(std::string_view) { return std::nullopt; }

  // The first IPv6 address of the name in the resolver's order, or nothing (and why).
  virtual std::optional<Ipv6Address> LookupHost6(std::string_view, NameError* error = nullptr) {
    if (error != nullptr) *error = NameError::kOther;
    return std::nullopt;
  }

  // Sends one echo request (ICMP, or ICMPv6 to request.address6) and blocks until its outcome is
  // known, at most request.timeout_ms (plus the time to open the socket).
  virtual EchoReply SendEcho(const EchoRequest& request) = 0;
};

}  // namespace trelvane
