#pragma once

#include <arpa/inet.h>

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "probe/echo_service.h"

namespace trelvane::testing {

inline Address Dotted(const char* text) { return inet_addr(text); }

// An echo service whose names and replies the test scripts. It logs every parse and lookup
// ("parse x", "lookup x", "lookup6 x") and keeps every request sent.
class FakeEchoService final : public EchoService {
 public:
  Address ParseAddress(std::string_view text) override {
    log.push_back("parse " + std::string(text));
    return inet_addr(std::string(text).c_str());
  }
  Address LookupHost(std::string_view name, NameError* error) override {
    log.push_back("lookup " + std::string(name));
    const auto found = names.find(std::string(name));
    if (found == names.end() && error != nullptr) *error = missing;
    return found == names.end() ? kNoAddress : found->second;
  }
  std::optional<Ipv6Address> ParseAddress6(std::string_view text) override {
    Ipv6Address address;
    if (inet_pton(AF_INET6, std::string(text).c_str(), address.bytes.data()) != 1) return {};
    return address;
  }
  std::optional<Ipv6Address> LookupHost6(std::string_view name, NameError* error) override {
    log.push_back("lookup6 " + std::string(name));
    const auto found = names6.find(std::string(name));
    if (found == names6.end() && error != nullptr) *error = missing;
    return found == names6.end() ? std::nullopt : std::optional(found->second);
  }
  EchoReply SendEcho(const EchoRequest& request) override {
    sent.push_back(request);
    sent.back().payload = payloads.emplace_back(request.payload);  // outlives the call
    if (replies.empty()) return EchoReply{EchoStatus::kTimedOut};
    const EchoReply reply = replies.front();
    replies.pop_front();
    return reply;
  }

  std::map<std::string, Address> names;
  std::map<std::string, Ipv6Address> names6;
  NameError missing = NameError::kOther;  // what a lookup of a name not listed says
  std::deque<EchoReply> replies;
  std::vector<std::string> log;
  std::vector<EchoRequest> sent;
  std::deque<std::string> payloads;
};

}  // namespace trelvane::testing
