#pragma once

#include <string>
#include <string_view>

#include "probe/echo_service.h"

namespace trelvane {

inline constexpr std::string_view kEchoPayload = "PINGECHOICMPTEST";
inline constexpr int kEchoTtl = 245;
inline constexpr int kEchoTimeoutMs = 2000;
inline constexpr int kMaxEchoTimeoutMs = 32767;
// Host texts at least this long are always looked up by name.
inline constexpr std::size_t kNameOnlyLength = 16;

// Codes of ReadReply below 0. A round-trip time is 0 or more.
inline constexpr int kReplyTimedOut = -1;
inline constexpr int kReplyBadOption = -2;
inline constexpr int kReplyBufferTooSmall = -3;
inline constexpr int kReplyFailed = -4;

// Result texts of Ping besides "<n> ms".
inline constexpr std::string_view kTimeoutText = "Timeout";
inline constexpr std::string_view kErrText = "Err";
inline constexpr std::string_view kSizeErrText = "SZErr";

// What one request gave: the result text, and whether it failed for want of the privilege to send
// ICMP at all (the text is then "Err"), which the user must be told apart from a dead link.
struct PingResult {
  std::string text;
  bool not_permitted = false;
  // The text is "Err" because the resolver said the name does not exist (for both families):
  // a mistyped host, not a dead link.
  bool no_such_host = false;
  // The address the request went to ("192.0.2.1", "2001:db8::1"); empty when none was resolved.
  std::string address;
  bool operator==(const PingResult&) const = default;
};

// The echo prober. Every call resolves the host afresh and sends one request through the echo
// service; nothing is kept between calls, so a Pinger may be shared by threads.
// An address as text: dotted IPv4 (`address` in network byte order), or IPv6 in its shortest
// form (RFC 5952: lower case, the longest run of two or more zero groups as "::") with "%zone".
std::string AddressText(Address address);
std::string AddressText(const Ipv6Address& address);

class Pinger {
 public:
  explicit Pinger(EchoService& service) : service_(service) {}

  // Sends one echo request to the host as the user typed it and returns "<n> ms", "Timeout",
  // "Err" or "SZErr". Blocks for the lookup plus up to kEchoTimeoutMs. A host that cannot be
  // resolved gives "Err" and nothing is sent.
  std::string Ping(std::string_view host) const;
  // The same, telling a missing privilege apart.
  PingResult PingResultFor(std::string_view host) const;

  // 1. A text shorter than kNameOnlyLength goes to ParseAddress; an address other than 0 and all
  //    ones is the result.
  // 2. Otherwise the result is LookupHost of the same text (kNoAddress if it cannot be resolved).
  Address ResolveHost(std::string_view host) const;

  // Where a request to the host goes, IPv6 beside IPv4:
  //  1. a dotted IPv4 text, as ResolveHost step 1;
  //  2. an IPv6 literal (with or without brackets, with a zone index);
  //  3. a name: its first IPv4 address in the resolver's order (LookupHost); only when it has no
  //     IPv4 address at all, its first IPv6 address.
  // Nothing when the host cannot be resolved.
  struct Target {
    Address address = kNoAddress;
    std::optional<Ipv6Address> address6;
  };
  // `no_such_name`, when given, is set when both families' lookups said the name does not exist.
  std::optional<Target> ResolveTarget(std::string_view host, bool* no_such_name = nullptr) const;
  Address ParseAddress(std::string_view text) const;
  Address LookupHost(std::string_view name) const;

  // The timeout is made positive and capped at kMaxEchoTimeoutMs before the request goes out.
  EchoReply SendEcho(Address address, int timeout_ms, int ttl, std::string_view payload) const;

  // The round-trip time in milliseconds of a success, else one of the negative kReply* codes (an
  // expired time-to-live is a failure: the host was never reached).
  static int ReadReply(const EchoReply& reply);

  // The result text of a ReadReply code.
  static std::string ResultText(int code);

 private:
  EchoService& service_;
};

}  // namespace trelvane
