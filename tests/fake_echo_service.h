#pragma once

#include <arpa/inet.h>

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "probe/echo_service.h"

namespace trelvane::testing {

// An echo service whose names and replies the test scripts, and which records every call.
class FakeEchoService final : public EchoService {
 public:
  Address ParseAddress(std::string_view text) override {
    parsed.emplace_back(text);
    return inet_addr(std::string(text).c_str());
  }

  Address LookupHost(std::string_view name) override {
    looked_up.emplace_back(name);
    const auto found = names.find(std::string(name));
    return found == names.end() ? kNoAddress : found->second;
  }

  std::optional<Ipv6Address> ParseAddress6(std::string_view text) override {
    Ipv6Address address;
    if (inet_pton(AF_INET6, std::string(text).c_str(), address.bytes.data()) != 1) {
      return std::nullopt;
    }
    return address;
  }

  std::optional<Ipv6Address> LookupHost6(std::string_view name) override {
    looked_up6.emplace_back(name);
    const auto found = names6.find(std::string(name));
    if (found == names6.end()) return std::nullopt;
    return found->second;
  }

  EchoReply SendEcho(const EchoRequest& request) override {
    sent.push_back(Sent{request.address, request.timeout_ms, request.ttl,
                        std::string(request.payload), request.address6});
    if (replies.empty()) return EchoReply{EchoStatus::kTimedOut};
    const EchoReply reply = replies.front();
    replies.pop_front();
    return reply;
  }

  struct Sent {
    Address address;
    int timeout_ms;
    int ttl;
    std::string payload;
    std::optional<Ipv6Address> address6;
  };

  std::map<std::string, Address> names;
  std::map<std::string, Ipv6Address> names6;
  std::vector<std::string> looked_up6;
  std::deque<EchoReply> replies;
  std::vector<std::string> parsed;
  std::vector<std::string> looked_up;
  std::vector<Sent> sent;
};

inline Address Dotted(const char* text) { return inet_addr(text); }

}  // namespace trelvane::testing
