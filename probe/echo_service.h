#pragma once

#include <cstdint>
#include <string_view>

namespace trelvane {

// An IPv4 address in network byte order, as inet_addr() gives it. 0 stands for no address.
using Address = std::uint32_t;
inline constexpr Address kNoAddress = 0;
inline constexpr Address kAllOnes = 0xFFFFFFFFu;

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

  // The first IPv4 address of the name, or kNoAddress when it cannot be resolved.
  virtual Address LookupHost(std::string_view name) = 0;

  // Sends one echo request and blocks until its outcome is known, at most request.timeout_ms
  // (plus the time to open the socket).
  virtual EchoReply SendEcho(const EchoRequest& request) = 0;
};

}  // namespace trelvane
