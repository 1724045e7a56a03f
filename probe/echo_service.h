#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
  EchoReply() = default;
  explicit EchoReply(EchoStatus status_, std::uint32_t round_trip_ms_ = 0)
      : status(status_), round_trip_ms(round_trip_ms_) {}
  EchoStatus status = EchoStatus::kNoReply;
  // Round-trip time of kSuccess and kTtlExpired, truncated to whole milliseconds.
  std::uint32_t round_trip_ms = 0;
  // The same time in microseconds where the backend measures that finely, else -1.
  std::int64_t round_trip_us = -1;
  // Who answered, as text ("192.0.2.1", "2001:db8::1"), where the backend tells: the destination
  // for kSuccess, the router for kTtlExpired and kOther. Empty when unknown.
  std::string from;
};

// A trace: echo requests to one destination with every hop limit from 1 to max_ttl,
// probes_per_hop of each, all in flight at once.
struct TraceRequest {
  Address address = kNoAddress;
  std::optional<Ipv6Address> address6;  // when set, over ICMPv6
  int max_ttl = 30;
  int probes_per_hop = 3;
  int timeout_ms = 2000;  // for each probe, from when it was sent
  std::string_view payload;
};

// What became of one probe of a trace.
struct TraceProbe {
  int ttl = 0;
  EchoReply reply;  // kSuccess: the destination answered; kTtlExpired: a router on the way
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

  // Sends every probe of a trace and waits for their outcomes: at most timeout_ms after the last
  // was sent, and less once every probe is settled. In ttl order, probes_per_hop a hop. This one
  // sends each probe through SendEcho on a thread of its own; backends that can send them all on
  // one socket do so.
  virtual std::vector<TraceProbe> SendTrace(const TraceRequest& request);
};

}  // namespace trelvane
