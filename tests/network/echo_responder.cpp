// A scripted ICMP echo responder for the network tests. It runs in the far namespace of the test
// lab (whose kernel replies are switched off) and answers each echo request, ICMP or ICMPv6 alike,
// as the last byte of the address it was sent to says:
//
//   2   after 20.5 ms, dropping every fourth request to it
//   3   never
//   4   with "destination unreachable" after 1 ms
//   5   at once with three wrong replies (identifier, sequence, payload), after 20.5 ms with the
//       right one, and 5 ms later with a duplicate of it
//   6   after 2,500 ms
//   7   with "time exceeded in transit" after 20.5 ms
//   8   after 20.5 ms
//   9   after 20.5 ms, but only to requests with time-to-live 245 and payload "PINGECHOICMPTEST"
//   10  at once with a forged "destination unreachable" that quotes the request's identifier and
//       sequence but another destination, then after 20.5 ms with the reply
//
// Usage: echo_responder SECONDS   (it ends by itself after that many seconds, or on SIGTERM)

#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
volatile sig_atomic_t stop_requested = 0;

// Real time, the clock of the kernel's receive stamps, which the delays count from: a responder
// that wakes late still answers on time.
std::int64_t NowUs() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

// An ICMP message with its checksum set; ICMPv6's the kernel sets.
Bytes Summed(Bytes icmp) {
  icmp[2] = icmp[3] = 0;
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < icmp.size(); i += 2) {
    sum += static_cast<std::uint32_t>(icmp[i] << 8 | (i + 1 < icmp.size() ? icmp[i + 1] : 0));
  }
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  icmp[2] = static_cast<std::uint8_t>(~sum >> 8);
  icmp[3] = static_cast<std::uint8_t>(~sum & 0xFF);
  return icmp;
}

// A message to send back: to the requester, from the address the request was sent to.
struct Outgoing {
  int fd;
  bool v6;
  sockaddr_in6 to;  // or a sockaddr_in
  std::uint8_t from[16];
  Bytes icmp;
};
std::multimap<std::int64_t, Outgoing> queue;
std::map<unsigned, unsigned> requests_to;  // for the dropping of every fourth

void Send(const Outgoing& out) {
  iovec io{const_cast<std::uint8_t*>(out.icmp.data()), out.icmp.size()};
  alignas(cmsghdr) std::uint8_t control[CMSG_SPACE(sizeof(in6_pktinfo))] = {};
  msghdr message{};
  message.msg_name = const_cast<sockaddr_in6*>(&out.to);
  message.msg_namelen = out.v6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen =
      out.v6 ? CMSG_SPACE(sizeof(in6_pktinfo)) : CMSG_SPACE(sizeof(in_pktinfo));
  cmsghdr* c = CMSG_FIRSTHDR(&message);
  if (out.v6) {
    in6_pktinfo info{};
    std::memcpy(&info.ipi6_addr, out.from, 16);
    *c = cmsghdr{CMSG_LEN(sizeof(info)), IPPROTO_IPV6, IPV6_PKTINFO};
    std::memcpy(CMSG_DATA(c), &info, sizeof(info));
  } else {
    in_pktinfo info{};
    std::memcpy(&info.ipi_spec_dst, out.from, 4);
    *c = cmsghdr{CMSG_LEN(sizeof(info)), IPPROTO_IP, IP_PKTINFO};
    std::memcpy(CMSG_DATA(c), &info, sizeof(info));
  }
  if (sendmsg(out.fd, &message, 0) < 0) std::perror("echo_responder: sendmsg");
}

// Reads one request from `fd` and schedules its answers.
void Answer(int fd, bool v6) {
  std::uint8_t packet[2048];
  alignas(cmsghdr) std::uint8_t control[512];
  sockaddr_in6 from{};
  iovec io{packet, sizeof(packet)};
  msghdr message{};
  message.msg_name = &from;
  message.msg_namelen = sizeof(from);
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof(control);
  const ssize_t got = recvmsg(fd, &message, MSG_DONTWAIT);
  std::int64_t received = NowUs();
  Outgoing out{fd, v6, from, {}, {}};
  int hops = 64;
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
      timespec stamp;
      std::memcpy(&stamp, CMSG_DATA(c), sizeof(stamp));
      received = static_cast<std::int64_t>(stamp.tv_sec) * 1'000'000 + stamp.tv_nsec / 1000;
    } else if (c->cmsg_type == IPV6_PKTINFO && c->cmsg_level == IPPROTO_IPV6) {
      std::memcpy(out.from, CMSG_DATA(c), 16);  // in6_pktinfo starts with the address
    } else if (c->cmsg_type == IPV6_HOPLIMIT && c->cmsg_level == IPPROTO_IPV6) {
      std::memcpy(&hops, CMSG_DATA(c), sizeof(hops));
    }
  }
  // The request's IP header, which an error quotes: an IPv4 socket gives it, an IPv6 one does not
  // and it is made again.
  Bytes header;
  if (v6) {
    header.assign(40, 0);
    header[0] = 0x60;
    header[4] = static_cast<std::uint8_t>(got >> 8);
    header[5] = static_cast<std::uint8_t>(got & 0xFF);
    header[6] = IPPROTO_ICMPV6;
    header[7] = static_cast<std::uint8_t>(hops);
    std::memcpy(&header[8], &from.sin6_addr, 16);
    std::memcpy(&header[24], out.from, 16);
  } else if (got >= 20) {
    header.assign(packet, packet + (packet[0] & 0x0F) * 4);
    hops = packet[8];
    std::memcpy(out.from, &packet[16], 4);
  }
  const ssize_t start = v6 ? 0 : static_cast<ssize_t>(header.size());
  if ((!v6 && header.empty()) || got < start + 8) return;
  const Bytes request(packet + start, packet + got);
  if (request[0] != (v6 ? ICMP6_ECHO_REQUEST : 8)) return;

  auto finish = [&](Bytes icmp) { return v6 ? icmp : Summed(icmp); };
  auto schedule = [&](std::int64_t delay_us, Bytes icmp) {
    Outgoing copy = out;
    copy.icmp = finish(std::move(icmp));
    queue.emplace(received + delay_us, std::move(copy));
  };
  Bytes reply = request;
  reply[0] = v6 ? ICMP6_ECHO_REPLY : 0;
  // An error quotes the request's header and message; `elsewhere` changes the quoted destination.
  auto error = [&](bool unreachable, bool elsewhere = false) {
    Bytes icmp(8, 0);
    icmp[0] = v6 ? (unreachable ? ICMP6_DST_UNREACH : ICMP6_TIME_EXCEEDED) : (unreachable ? 3 : 11);
    icmp[1] = v6 ? (unreachable ? ICMP6_DST_UNREACH_ADDR : 0) : (unreachable ? 1 : 0);
    icmp.insert(icmp.end(), header.begin(), header.end());
    if (elsewhere) icmp.back() += 100;  // the destination's last byte
    icmp.insert(icmp.end(), request.begin(), request.end());
    return icmp;
  };
  const unsigned last = out.from[v6 ? 15 : 3];
  switch (last) {
    case 2:
      if (++requests_to[last | (v6 ? 0x100 : 0)] % 4 != 0) schedule(20'500, reply);
      break;
    case 4:
      schedule(1'000, error(true));
      break;
    case 5:
      for (const std::size_t byte : {std::size_t{4}, std::size_t{7}, reply.size() - 1}) {
        Bytes wrong = reply;  // identifier, sequence, payload
        wrong[byte] ^= 0x01;
        schedule(0, wrong);
      }
      schedule(20'500, reply);
      schedule(25'500, reply);
      break;
    case 6:
      schedule(2'500'000, reply);
      break;
    case 7:
      schedule(20'500, error(false));
      break;
    case 8:
      schedule(20'500, reply);
      break;
    case 9:
      if (hops == 245 && request.size() == 24 &&
          std::memcmp(&request[8], "PINGECHOICMPTEST", 16) == 0)
        schedule(20'500, reply);
      break;
    case 10:
      schedule(0, error(true, true));
      schedule(20'500, reply);
      break;
    default:  // 3: never
      break;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const long lifetime_s = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 300;
  signal(SIGTERM, [](int) { stop_requested = 1; });
  signal(SIGINT, [](int) { stop_requested = 1; });
  const int fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
  const int fd6 = socket(AF_INET6, SOCK_RAW, IPPROTO_ICMPV6);
  if (fd < 0 || fd6 < 0) {
    std::perror("echo_responder: socket");
    return 1;
  }
  const int on = 1;
  for (const int s : {fd, fd6}) setsockopt(s, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof(on));
  setsockopt(fd6, IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof(on));
  setsockopt(fd6, IPPROTO_IPV6, IPV6_RECVHOPLIMIT, &on, sizeof(on));
  icmp6_filter requests_only;
  ICMP6_FILTER_SETBLOCKALL(&requests_only);
  ICMP6_FILTER_SETPASS(ICMP6_ECHO_REQUEST, &requests_only);
  setsockopt(fd6, IPPROTO_ICMPV6, ICMP6_FILTER, &requests_only, sizeof(requests_only));
  // Keep the timing when the test machine is busy (root only; best effort).
  sched_param priority{};
  priority.sched_priority = 50;
  sched_setscheduler(0, SCHED_FIFO, &priority);

  const std::int64_t end_us = NowUs() + lifetime_s * 1'000'000;
  std::printf("echo_responder: ready\n");
  std::fflush(stdout);
  while (stop_requested == 0 && NowUs() < end_us) {
    const std::int64_t now = NowUs();
    while (!queue.empty() && queue.begin()->first <= now) {
      Send(queue.begin()->second);
      queue.erase(queue.begin());
    }
    // Sleep to about a millisecond before the next due time, then poll without sleeping: poll's
    // whole-millisecond timeout would otherwise overshoot.
    const std::int64_t wait_us = queue.empty() ? 100'000 : queue.begin()->first - now - 1500;
    pollfd watched[2] = {{fd, POLLIN, 0}, {fd6, POLLIN, 0}};
    if (poll(watched, 2, static_cast<int>(std::max<std::int64_t>(0, wait_us) / 1000)) <= 0) {
      continue;
    }
    if ((watched[0].revents & POLLIN) != 0) Answer(fd, false);
    if ((watched[1].revents & POLLIN) != 0) Answer(fd6, true);
  }
  close(fd);
  close(fd6);
  return 0;
}
