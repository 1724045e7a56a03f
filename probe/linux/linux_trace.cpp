// A trace over the Linux kernel's ICMP sockets: every probe on one socket, each with its own hop
// limit and sequence number, all in flight at once.

// clang-format off
#include <time.h>  // before errqueue.h, which uses timespec
#include <linux/errqueue.h>
// clang-format on
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "probe/linux/icmp_socket.h"

namespace trelvane::linux_icmp {
namespace {

// One probe of a trace in flight.
struct TraceProbeInFlight {
  InFlight request;
  bool settled = false;
};

// Reads one queued error of a trace's datagram socket: the probe it quotes (by its sequence)
// settles with the router that sent it, the offender the kernel names.
void ReadQueuedTraceError(int fd, std::vector<TraceProbeInFlight>& probes,
                          std::vector<TraceProbe>& out) {
  if (probes.empty()) return;
  const icmp::Expected& any = probes.front().request.expected;
  const std::optional<QueuedError> error = ReadQueuedError(fd, any.family, any.destination);
  if (!error) return;
  for (std::size_t i = 0; i < probes.size(); ++i) {
    if (probes[i].settled || probes[i].request.expected.sequence != error->sequence) continue;
    out[i].reply =
        Answered(error->status, probes[i].request, error->stamp ? &*error->stamp : nullptr);
    out[i].reply.from = error->from;
    probes[i].settled = true;
    return;
  }
}

// Reads one normal message of a trace's socket: an echo reply from the destination, or (raw
// sockets) an error that quotes one of the probes, by the prober's rules.
void ReadTraceMessage(int fd, bool raw, std::vector<TraceProbeInFlight>& probes,
                      std::vector<TraceProbe>& out) {
  Received in;
  const ssize_t received = Receive(fd, 0, in);
  if (received <= 0 || (in.message.msg_flags & MSG_TRUNC) != 0 || probes.empty()) return;
  const Family family = probes.front().request.expected.family;
  std::span<const std::uint8_t> message(in.data.data(), static_cast<std::size_t>(received));
  if (raw && family == Family::kV4) {
    const auto payload = icmp::Ipv4Payload(message);
    if (!payload) return;
    message = *payload;
  }
  const std::span<const std::uint8_t> source = SourceOf(in, family);
  for (std::size_t i = 0; i < probes.size(); ++i) {
    if (probes[i].settled) continue;
    const std::optional<EchoStatus> status =
        icmp::Classify(message, source, probes[i].request.expected);
    if (!status) continue;
    timespec stamp_storage{};
    EchoReply reply =
        Answered(*status, probes[i].request, FindTimestamp(in.message, stamp_storage));
    reply.from = AddressTextOf(in.from, in.message.msg_namelen);
    out[i].reply = reply;
    probes[i].settled = true;
    return;
  }
}

}  // namespace

// Every probe on one socket, then every answer read as it comes until each probe is settled or
// the last one's timeout is over.
std::vector<TraceProbe> SendTraceOnSocket(const TraceRequest& trace) {
  const bool v6 = trace.address6.has_value();
  const int count = trace.max_ttl * trace.probes_per_hop;
  std::vector<TraceProbe> out(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    out[static_cast<std::size_t>(i)].ttl = i / trace.probes_per_hop + 1;
  }
  int open_error = 0;
  const std::unique_ptr<Socket> socket = OpenIcmpSocket(v6, open_error);
  if (!socket) {
    ReportNoSocketOnce(open_error);
    const EchoStatus status = open_error == EPERM || open_error == EACCES
                                  ? EchoStatus::kNotPermitted
                                  : EchoStatus::kNoReply;
    for (TraceProbe& probe : out) probe.reply.status = status;
    return out;
  }
  const int fd = socket->fd();
  const Family family = v6 ? Family::kV6 : Family::kV4;
  PrepareToReceive(*socket, family);
  const Destination destination(trace.address, trace.address6);
  const std::int64_t timeout_ns = static_cast<std::int64_t>(trace.timeout_ms) * kNsPerMs;
  const std::uint16_t id = socket->raw() ? RawIdentifier() : 0;
  std::vector<TraceProbeInFlight> probes(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    InFlight& request = probes[static_cast<std::size_t>(i)].request;
    request.expected.family = family;
    request.expected.destination = destination.span();
    if (socket->raw()) request.expected.id = id;
    request.expected.sequence = NextSequence();
    request.expected.payload = trace.payload.substr(0, kMaxPayloadBytes);
    request.timeout_ns = timeout_ns;
    const int ttl = out[static_cast<std::size_t>(i)].ttl;
    const bool limited =
        v6 ? setsockopt(fd, IPPROTO_IPV6, IPV6_UNICAST_HOPS, &ttl, sizeof(ttl)) == 0
           : setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof(ttl)) == 0;
    const std::vector<std::uint8_t> packet =
        icmp::BuildEchoRequest(family, id, request.expected.sequence, request.expected.payload);
    // An error that came back for an earlier probe is handed to the next send as its failure
    // (besides the error queue): that send is tried again.
    bool sent = false;
    for (int attempt = 0; limited && !sent && attempt < 3; ++attempt) {
      request.sent = ReadBothClocks();
      sent = sendto(fd, packet.data(), packet.size(), 0, destination.any(),
                    destination.any_size()) >= 0;
    }
    if (!sent) {
      out[static_cast<std::size_t>(i)].reply.status =
          limited ? EchoStatus::kOther : EchoStatus::kBadOption;
      probes[static_cast<std::size_t>(i)].settled = true;
    }
  }
  const std::int64_t deadline_ns = NowNs(CLOCK_MONOTONIC) + timeout_ns;
  auto all_settled = [&probes] {
    for (const TraceProbeInFlight& probe : probes) {
      if (!probe.settled) return false;
    }
    return true;
  };
  while (!all_settled()) {
    const std::int64_t left_ns = deadline_ns - NowNs(CLOCK_MONOTONIC);
    if (left_ns <= 0) break;
    const timespec wait{static_cast<time_t>(left_ns / 1'000'000'000),
                        static_cast<long>(left_ns % 1'000'000'000)};
    pollfd watched{fd, POLLIN, 0};
    const int ready = ppoll(&watched, 1, &wait, nullptr);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    if ((watched.revents & POLLERR) != 0) ReadQueuedTraceError(fd, probes, out);
    if ((watched.revents & POLLIN) != 0) ReadTraceMessage(fd, socket->raw(), probes, out);
  }
  for (std::size_t i = 0; i < probes.size(); ++i) {
    if (!probes[i].settled) out[i].reply.status = EchoStatus::kTimedOut;
  }
  return out;
}

}  // namespace trelvane::linux_icmp
