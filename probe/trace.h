#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "probe/echo_service.h"
#include "probe/pinger.h"

namespace trelvane {

// One hop of a trace: its probes' outcomes, in the order they were sent.
struct TraceHop {
  int ttl = 0;
  std::vector<EchoReply> replies;
  // Some probe of it was answered by the destination itself.
  bool reached() const;
  // Its first answering address (a router's, or the destination's); empty when all were silent.
  std::string address() const;
};

// What a trace found.
struct TraceResult {
  bool not_permitted = false;  // no ICMP socket may be opened
  bool no_such_host = false;   // the resolver said the name does not exist
  std::string address;         // the destination, as text; empty when unresolved
  std::vector<TraceHop> hops;  // from hop 1; up to the destination's, else to the last limit
  // The hop furthest out that answered (a router or the destination); nothing when none did.
  std::optional<TraceHop> LastAnswering() const;
};

// Groups the probes by hop limit, in order, up to the first hop where the destination answered or
// where every answer was an error other than "time exceeded" (an unreachable: nothing goes
// further).
std::vector<TraceHop> HopsOf(const std::vector<TraceProbe>& probes);

// A hop as a classic numeric trace line: " 3  10.200.1.2  0.512 ms  0.430 ms  *"; an address
// that changes within the hop comes before its time, an unreachable carries "!H".
std::string HopLine(const TraceHop& hop);

// Traces `host` as the prober resolves it: every hop limit from 1 to max_ttl, three probes each,
// all at once; the whole takes about one probe's timeout.
TraceResult TraceHost(EchoService& service, std::string_view host, int max_ttl = 30);

}  // namespace trelvane
