#pragma once

#include <arpa/inet.h>

#include <deque>
#include <map>
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

  EchoReply SendEcho(const EchoRequest& request) override {
    sent.push_back(
        Sent{request.address, request.timeout_ms, request.ttl, std::string(request.payload)});
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
  };

  std::map<std::string, Address> names;
  std::deque<EchoReply> replies;
  std::vector<std::string> parsed;
  std::vector<std::string> looked_up;
  std::vector<Sent> sent;
};

inline Address Dotted(const char* text) { return inet_addr(text); }

}  // namespace trelvane::testing
