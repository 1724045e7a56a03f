// A scripted ICMP echo responder for the network tests. It runs in the far namespace of the test
// lab (whose kernel replies are switched off with net.ipv4.icmp_echo_ignore_all=1) and answers each
// echo request as the last octet of the address it was sent to says:
//
//   .2  after 20.5 ms, dropping every fourth request to it
//   .3  never
//   .4  with "destination unreachable (host)" after 1 ms
//   .5  at once with three wrong replies (identifier, sequence, payload), after 20.5 ms with the
//       right one, and 5 ms later with a duplicate of it
//   .6  after 2,500 ms
//   .7  with "time exceeded in transit" after 20.5 ms
//   .8  after 20.5 ms
//   .9  after 20.5 ms, but only to requests with time-to-live 245 and payload "PINGECHOICMPTEST"
//   .10 at once with a forged "destination unreachable" that quotes the request's identifier and
//       sequence but another destination, then after 20.5 ms with the reply
//
// ICMPv6 echo requests are answered alike, by the last byte of the address they were sent to
// (fd00:199:77::2 to ::a), with ICMPv6's messages: destination unreachable, hop limit exceeded.
//
// Usage: echo_responder SECONDS   (it ends by itself after that many seconds, or on SIGTERM)

#include <arpa/inet.h>
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

volatile sig_atomic_t stop_requested = 0;

// Real time, the clock of the kernel's receive stamps, which the delays count from: a responder
// that wakes late still answers on time.
std::int64_t NowUs() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

std::uint16_t Checksum(const std::uint8_t* data, std::size_t size) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < size; i += 2)
    sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
  if (size % 2 != 0) sum += static_cast<std::uint32_t>(data[size - 1] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

struct Outgoing {
  std::int64_t due_us;
  std::uint32_t source;  // network order: the address the request was sent to
  std::uint32_t destination;
  std::vector<std::uint8_t> icmp;
  bool v6 = false;
  in6_addr source6{};  // the same for ICMPv6
  in6_addr destination6{};
};

// ICMP message with its checksum set.
std::vector<std::uint8_t> Finish(std::vector<std::uint8_t> icmp) {
  icmp[2] = icmp[3] = 0;
  const std::uint16_t sum = Checksum(icmp.data(), icmp.size());
  icmp[2] = static_cast<std::uint8_t>(sum >> 8);
  icmp[3] = static_cast<std::uint8_t>(sum & 0xFF);
  return icmp;
}

std::vector<std::uint8_t> EchoReplyOf(const std::uint8_t* icmp, std::size_t size) {
  std::vector<std::uint8_t> reply(icmp, icmp + size);
  reply[0] = 0;
  return Finish(reply);
}

// An error message quoting the request's IP header and the first 8 bytes of its ICMP message.
std::vector<std::uint8_t> ErrorOf(std::uint8_t type, std::uint8_t code, const std::uint8_t* ip,
                                  std::size_t ihl) {
  std::vector<std::uint8_t> error(8, 0);
  error[0] = type;
  error[1] = code;
  error.insert(error.end(), ip, ip + ihl + 8);
  return Finish(error);
}

// ICMPv6: from the address the request went to (IPV6_PKTINFO); the kernel sums the message.
void Send6(int fd, const Outgoing& out) {
  sockaddr_in6 to{};
  to.sin6_family = AF_INET6;
  to.sin6_addr = out.destination6;
  iovec io{const_cast<std::uint8_t*>(out.icmp.data()), out.icmp.size()};
  alignas(cmsghdr) std::uint8_t control[CMSG_SPACE(sizeof(in6_pktinfo))] = {};
  msghdr message{};
  message.msg_name = &to;
  message.msg_namelen = sizeof(to);
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof(control);
  cmsghdr* c = CMSG_FIRSTHDR(&message);
  c->cmsg_level = IPPROTO_IPV6;
  c->cmsg_type = IPV6_PKTINFO;
  c->cmsg_len = CMSG_LEN(sizeof(in6_pktinfo));
  in6_pktinfo info{};
  info.ipi6_addr = out.source6;
  std::memcpy(CMSG_DATA(c), &info, sizeof(info));
  if (sendmsg(fd, &message, 0) < 0) std::perror("echo_responder: sendmsg");
}

void Send(int fd, const Outgoing& out) {
  std::vector<std::uint8_t> packet(20 + out.icmp.size(), 0);
  packet[0] = 0x45;
  packet[8] = 64;  // time-to-live
  packet[9] = IPPROTO_ICMP;
  std::memcpy(&packet[12], &out.source, 4);
  std::memcpy(&packet[16], &out.destination, 4);
  std::memcpy(packet.data() + 20, out.icmp.data(), out.icmp.size());
  const std::uint16_t total = htons(static_cast<std::uint16_t>(packet.size()));
  std::memcpy(&packet[2], &total, 2);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = out.destination;
  if (sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to)) <
      0) {
    std::perror("echo_responder: sendto");
  }
}

using Queue = std::multimap<std::int64_t, Outgoing>;

// One ICMPv6 echo request, answered as its destination's last byte says.
void Answer6(int fd, Queue& queue, std::map<std::uint32_t, unsigned>& drop_counter) {
  std::uint8_t icmp[2048];
  alignas(cmsghdr) std::uint8_t control[512];
  sockaddr_in6 from{};
  iovec io{icmp, sizeof(icmp)};
  msghdr message{};
  message.msg_name = &from;
  message.msg_namelen = sizeof(from);
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof(control);
  const ssize_t got = recvmsg(fd, &message, MSG_DONTWAIT);
  if (got < 8 || icmp[0] != ICMP6_ECHO_REQUEST) return;
  std::int64_t received = NowUs();
  in6_addr destination{};
  int hop_limit = -1;
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
      timespec stamp;
      std::memcpy(&stamp, CMSG_DATA(c), sizeof(stamp));
      received = static_cast<std::int64_t>(stamp.tv_sec) * 1'000'000 + stamp.tv_nsec / 1000;
    } else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO) {
      in6_pktinfo info;
      std::memcpy(&info, CMSG_DATA(c), sizeof(info));
      destination = info.ipi6_addr;
    } else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_HOPLIMIT) {
      std::memcpy(&hop_limit, CMSG_DATA(c), sizeof(hop_limit));
    }
  }
  const auto size = static_cast<std::size_t>(got);
  const unsigned octet = destination.s6_addr[15];
  auto schedule = [&](std::int64_t delay_us, std::vector<std::uint8_t> reply) {
    Outgoing out{received + delay_us, 0, 0, std::move(reply), true, destination, from.sin6_addr};
    queue.emplace(received + delay_us, std::move(out));
  };
  std::vector<std::uint8_t> reply(icmp, icmp + size);
  reply[0] = ICMP6_ECHO_REPLY;
  reply[2] = reply[3] = 0;
  // An error quotes the request's IPv6 header (made again: a raw socket does not give it) and
  // its message.
  auto error = [&](std::uint8_t type, std::uint8_t code, const in6_addr& quoted_destination) {
    std::vector<std::uint8_t> out(8, 0);
    out[0] = type;
    out[1] = code;
    std::uint8_t header[40] = {0x60};
    header[4] = static_cast<std::uint8_t>(size >> 8);
    header[5] = static_cast<std::uint8_t>(size & 0xFF);
    header[6] = IPPROTO_ICMPV6;
    header[7] = static_cast<std::uint8_t>(hop_limit < 0 ? 64 : hop_limit);
    std::memcpy(header + 8, &from.sin6_addr, 16);
    std::memcpy(header + 24, &quoted_destination, 16);
    out.insert(out.end(), header, header + 40);
    out.insert(out.end(), icmp, icmp + size);
    return out;
  };
  std::uint32_t key;
  std::memcpy(&key, destination.s6_addr + 12, 4);
  switch (octet) {
    case 2:
      if (++drop_counter[key] % 4 != 0) schedule(20'500, reply);
      break;
    case 4:
      schedule(1'000, error(ICMP6_DST_UNREACH, ICMP6_DST_UNREACH_ADDR, destination));
      break;
    case 5: {
      std::vector<std::uint8_t> wrong = reply;
      wrong[4] ^= 0x01;  // identifier
      schedule(0, wrong);
      wrong = reply;
      wrong[7] ^= 0x01;  // sequence
      schedule(0, wrong);
      wrong = reply;
      if (wrong.size() > 8) wrong.back() ^= 0x20;  // payload
      schedule(0, wrong);
      schedule(20'500, reply);
      schedule(25'500, reply);
      break;
    }
    case 6:
      schedule(2'500'000, reply);
      break;
    case 7:
      schedule(20'500, error(ICMP6_TIME_EXCEEDED, ICMP6_TIME_EXCEED_TRANSIT, destination));
      break;
    case 8:
      schedule(20'500, reply);
      break;
    case 9: {
      const bool payload_ok = size == 24 && std::memcmp(icmp + 8, "PINGECHOICMPTEST", 16) == 0;
      if (hop_limit == 245 && payload_ok) schedule(20'500, reply);
      break;
    }
    case 10: {
      in6_addr elsewhere = destination;
      elsewhere.s6_addr[15] += 100;
      schedule(0, error(ICMP6_DST_UNREACH, ICMP6_DST_UNREACH_ADDR, elsewhere));
      schedule(20'500, reply);
      break;
    }
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
  if (fd < 0) {
    std::perror("echo_responder: socket");
    return 1;
  }
  const int on = 1;
  setsockopt(fd, IPPROTO_IP, IP_HDRINCL, &on, sizeof(on));
  setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof(on));
  const int fd6 = socket(AF_INET6, SOCK_RAW, IPPROTO_ICMPV6);
  if (fd6 < 0) {
    std::perror("echo_responder: socket (ICMPv6)");
    return 1;
  }
  setsockopt(fd6, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof(on));
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
  Queue queue;
  std::map<std::uint32_t, unsigned> drop_counter;
  std::printf("echo_responder: ready\n");
  std::fflush(stdout);

  while (stop_requested == 0 && NowUs() < end_us) {
    const std::int64_t now = NowUs();
    while (!queue.empty() && queue.begin()->first <= now) {
      const Outgoing& out = queue.begin()->second;
      if (out.v6) {
        Send6(fd6, out);
      } else {
        Send(fd, out);
      }
      queue.erase(queue.begin());
    }
    // Sleep to about a millisecond before the next due time, then poll without sleeping: poll's
    // whole-millisecond timeout would otherwise overshoot.
    int wait_ms = 100;
    if (!queue.empty()) {
      wait_ms =
          static_cast<int>(std::max<std::int64_t>(0, queue.begin()->first - now - 1500) / 1000);
    }
    pollfd watched[2] = {{fd, POLLIN, 0}, {fd6, POLLIN, 0}};
    if (poll(watched, 2, wait_ms) <= 0) continue;
    if ((watched[1].revents & POLLIN) != 0) Answer6(fd6, queue, drop_counter);
    if ((watched[0].revents & POLLIN) == 0) continue;

    std::uint8_t buffer[2048];
    alignas(cmsghdr) std::uint8_t control[256];
    iovec io{buffer, sizeof(buffer)};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    const ssize_t got = recvmsg(fd, &message, 0);
    std::int64_t received = NowUs();
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
        timespec stamp;
        std::memcpy(&stamp, CMSG_DATA(c), sizeof(stamp));
        received = static_cast<std::int64_t>(stamp.tv_sec) * 1'000'000 + stamp.tv_nsec / 1000;
      }
    }
    if (got < 28) continue;
    const std::size_t ihl = static_cast<std::size_t>(buffer[0] & 0x0F) * 4;
    if (static_cast<std::size_t>(got) < ihl + 8) continue;
    const std::uint8_t* icmp = buffer + ihl;
    const std::size_t icmp_size = static_cast<std::size_t>(got) - ihl;
    if (icmp[0] != 8) continue;  // echo requests only
    std::uint32_t source, destination;
    std::memcpy(&source, buffer + 12, 4);
    std::memcpy(&destination, buffer + 16, 4);
    const unsigned octet = ntohl(destination) & 0xFF;
    auto schedule = [&](std::int64_t delay_us, std::vector<std::uint8_t> message) {
      queue.emplace(received + delay_us,
                    Outgoing{received + delay_us, destination, source, std::move(message)});
    };
    const std::vector<std::uint8_t> reply = EchoReplyOf(icmp, icmp_size);
    switch (octet) {
      case 2:
        if (++drop_counter[destination] % 4 != 0) schedule(20'500, reply);
        break;
      case 3:
        break;
      case 4:
        schedule(1'000, ErrorOf(3, 1, buffer, ihl));
        break;
      case 5: {
        std::vector<std::uint8_t> wrong = reply;
        wrong[4] ^= 0x01;  // identifier
        schedule(0, Finish(wrong));
        wrong = reply;
        wrong[7] ^= 0x01;  // sequence
        schedule(0, Finish(wrong));
        wrong = reply;
        if (wrong.size() > 8) wrong.back() ^= 0x20;  // payload
        schedule(0, Finish(wrong));
        schedule(20'500, reply);
        schedule(25'500, reply);
        break;
      }
      case 6:
        schedule(2'500'000, reply);
        break;
      case 7:
        schedule(20'500, ErrorOf(11, 0, buffer, ihl));
        break;
      case 8:
        schedule(20'500, reply);
        break;
      case 9: {
        const bool payload_ok =
            icmp_size == 24 && std::memcmp(icmp + 8, "PINGECHOICMPTEST", 16) == 0;
        if (buffer[8] == 245 && payload_ok) schedule(20'500, reply);
        break;
      }
      case 10: {
        std::vector<std::uint8_t> quoted(buffer, buffer + ihl + 8);
        const std::uint32_t elsewhere = htonl(ntohl(destination) + 100);
        std::memcpy(&quoted[16], &elsewhere, 4);
        schedule(0, ErrorOf(3, 1, quoted.data(), ihl));
        schedule(20'500, reply);
        break;
      }
      default:
        break;
    }
  }
  close(fd);
  close(fd6);
  return 0;
}
