#include "probe/linux/raw_filter.h"

#include <linux/filter.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <iterator>

namespace trelvane {
namespace {

using namespace icmp;

constexpr int kRawReceiveBufferBytes = 256 * 1024;
// ICMP_FILTER of <linux/icmp.h>, whose definitions clash with <netinet/ip_icmp.h>.
constexpr int kIcmpFilter = 1;

template <std::size_t N>
void Attach(int fd, sock_filter (&code)[N]) {
  const sock_fprog program{static_cast<unsigned short>(N), code};
  setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof(program));
  const int room = kRawReceiveBufferBytes;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &room, sizeof(room));
}

// Offsets count from the IP header, which a raw ICMP socket delivers; X is its length. Jumps count
// the instructions to skip.
void AttachV4(int fd, std::uint16_t identifier) {
  std::uint32_t pass = (1u << kEchoReply) | (1u << kDestUnreachable) | (1u << kSourceQuench) |
                       (1u << kTimeExceeded) | (1u << kParameterProblem);
  std::uint32_t types = ~pass;
  setsockopt(fd, SOL_RAW, kIcmpFilter, &types, sizeof(types));
  sock_filter code[] = {
      BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),                        // 0: X = IP header length
      BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0),                         // 1: A = ICMP type
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kEchoReply, 0, 2),         // 2: an echo reply?
      BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4),                         // 3:   A = its identifier
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, identifier, 5, 4),         // 4:   ours: 10, else 9
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kDestUnreachable, 4, 0),   // 5: an error we read: 10
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kSourceQuench, 3, 0),      // 6
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kTimeExceeded, 2, 0),      // 7
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kParameterProblem, 1, 0),  // 8
      BPF_STMT(BPF_RET | BPF_K, 0),                                  // 9: drop
      BPF_STMT(BPF_RET | BPF_K, 0xFFFF),                             // 10: pass
  };
  Attach(fd, code);
}

// A raw ICMPv6 socket delivers the message without the IPv6 header.
void AttachV6(int fd, std::uint16_t identifier) {
  icmp6_filter types;
  ICMP6_FILTER_SETBLOCKALL(&types);
  for (const int type :
       {kEcho6Reply, kDestUnreachable6, kPacketTooBig6, kTimeExceeded6, kParameterProblem6}) {
    ICMP6_FILTER_SETPASS(type, &types);
  }
  setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &types, sizeof(types));
  sock_filter code[] = {
      BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 0),                          // 0: A = ICMPv6 type
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kEcho6Reply, 0, 2),         // 1: an echo reply?
      BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 4),                          // 2:   A = its identifier
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, identifier, 3, 2),          // 3:   ours: 7, else 6
      BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, kDestUnreachable6, 0, 1),   // 4: an error, 1 to 4:
      BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, kParameterProblem6, 0, 1),  // 5:   pass
      BPF_STMT(BPF_RET | BPF_K, 0),                                   // 6: drop
      BPF_STMT(BPF_RET | BPF_K, 0xFFFF),                              // 7: pass
  };
  Attach(fd, code);
}

}  // namespace

void AttachRawFilter(int fd, Family family, std::uint16_t identifier) {
  if (family == Family::kV6) {
    AttachV6(fd, identifier);
  } else {
    AttachV4(fd, identifier);
  }
}

}  // namespace trelvane
