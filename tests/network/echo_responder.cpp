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
// Usage: echo_responder SECONDS   (it ends by itself after that many seconds, or on SIGTERM)

#include <arpa/inet.h>
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

void Send(int fd, const Outgoing& out) {
  std::vector<std::uint8_t> packet(20, 0);
  packet[0] = 0x45;
  packet[8] = 64;  // time-to-live
  packet[9] = IPPROTO_ICMP;
  std::memcpy(&packet[12], &out.source, 4);
  std::memcpy(&packet[16], &out.destination, 4);
  packet.insert(packet.end(), out.icmp.begin(), out.icmp.end());
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
  // Keep the timing when the test machine is busy (root only; best effort).
  sched_param priority{};
  priority.sched_priority = 50;
  sched_setscheduler(0, SCHED_FIFO, &priority);

  const std::int64_t end_us = NowUs() + lifetime_s * 1'000'000;
  std::multimap<std::int64_t, Outgoing> queue;
  std::map<std::uint32_t, unsigned> drop_counter;
  std::printf("echo_responder: ready\n");
  std::fflush(stdout);

  while (stop_requested == 0 && NowUs() < end_us) {
    const std::int64_t now = NowUs();
    while (!queue.empty() && queue.begin()->first <= now) {
      Send(fd, queue.begin()->second);
      queue.erase(queue.begin());
    }
    // Sleep to about a millisecond before the next due time, then poll without sleeping: poll's
    // whole-millisecond timeout would otherwise overshoot.
    int wait_ms = 100;
    if (!queue.empty()) {
      wait_ms =
          static_cast<int>(std::max<std::int64_t>(0, queue.begin()->first - now - 1500) / 1000);
    }
    pollfd watched{fd, POLLIN, 0};
    if (poll(&watched, 1, wait_ms) <= 0) continue;

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
  return 0;
}
