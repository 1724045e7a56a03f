// ICMP echo through the Windows ICMP service (icmp.dll, exported today by iphlpapi) and the
// resolver of Windows Sockets 1.1 (wsock32); ICMPv6 through Icmp6SendEcho2 and getaddrinfo
// (ws2_32).

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>
// clang-format on

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "probe/pinger.h"
#include "probe/system_echo_service.h"

namespace trelvane {
namespace {

// The reply record as the 32-bit service lays it out, followed by room for the echoed data.
constexpr std::size_t kReplyRecordSize = 32;
constexpr std::size_t kReplyRoom = 10000;
constexpr std::size_t kReplyBufferSize = kReplyRecordSize + kReplyRoom;  // 10,032
// The size announced to the service is three bytes short of the buffer, as it always was.
constexpr DWORD kAnnouncedReplySize = 10029;
constexpr WORD kWinsockVersion = 0x0101;
constexpr std::size_t kReply6AddressOffset = 6;  // after sin6_port and sin6_flowinfo
constexpr std::size_t kReply6StatusOffset = 26;
constexpr std::size_t kReply6TimeOffset = 30;

// The outcome of a call of either family: the first record's status (or the call's own error
// when it wrote none, `count` 0) and round-trip time. IP_TTL_EXPIRED_TRANSIT is IPv6's
// IP_HOP_LIMIT_EXCEEDED too.
EchoReply Classified(ULONG status, DWORD count, ULONG round_trip_ms) {
  EchoReply reply;
  switch (status) {
    case IP_SUCCESS:
      if (count == 0) return reply;  // no record to read a time from: kNoReply
      reply.status = EchoStatus::kSuccess;
      reply.round_trip_ms = round_trip_ms;
      return reply;
    case IP_TTL_EXPIRED_TRANSIT:
      reply.status = EchoStatus::kTtlExpired;
      return reply;
    case IP_REQ_TIMED_OUT:
      reply.status = EchoStatus::kTimedOut;
      return reply;
    case IP_BAD_OPTION:
      reply.status = EchoStatus::kBadOption;
      return reply;
    case IP_BUF_TOO_SMALL:
      reply.status = EchoStatus::kBufferTooSmall;
      return reply;
    default:
      reply.status = count == 0 && status == 0 ? EchoStatus::kNoReply : EchoStatus::kOther;
      return reply;
  }
}

class WindowsEchoService final : public EchoService {
 public:
  Address ParseAddress(std::string_view text) override {
    return inet_addr(std::string(text).c_str());
  }

  Address LookupHost(std::string_view name, NameError* error) override {
    WSADATA data;
    WSAStartup(kWinsockVersion, &data);
    Address address = kNoAddress;
    // gethostbyname keeps its answer per thread, so concurrent calls do not clash.
    const hostent* answer = gethostbyname(std::string(name).c_str());
    if (answer != nullptr && answer->h_addrtype == AF_INET && answer->h_length == 4 &&
        answer->h_addr_list != nullptr && answer->h_addr_list[0] != nullptr) {
      std::memcpy(&address, answer->h_addr_list[0], sizeof(address));
    } else if (error != nullptr) {
      *error = answer == nullptr && WSAGetLastError() == WSAHOST_NOT_FOUND ? NameError::kNoSuchName
                                                                           : NameError::kOther;
    }
    WSACleanup();
    return address;
  }

  std::optional<Ipv6Address> ParseAddress6(std::string_view text) override {
    return Resolve6(std::string(text), AI_NUMERICHOST, nullptr);
  }

  std::optional<Ipv6Address> LookupHost6(std::string_view name, NameError* error) override {
    return Resolve6(std::string(name), 0, error);
  }

  EchoReply SendEcho(const EchoRequest& request) override {
    if (request.address6) return SendEcho6(request);
    IP_OPTION_INFORMATION options{};
    options.Ttl = static_cast<UCHAR>(request.ttl);

    WSADATA data;
    WSAStartup(kWinsockVersion, &data);
    // The buffer is allocated per call (10 KB) and zero-filled, so a call that leaves no record
    // behind is recognised by the service's return value, not by reading zeros as 0 ms.
    auto buffer = std::make_unique<std::array<unsigned char, kReplyBufferSize>>();
    buffer->fill(0);

    EchoReply reply;
    const HANDLE handle = IcmpCreateFile();
    if (handle == INVALID_HANDLE_VALUE) {
      WSACleanup();
      return reply;  // kNoReply
    }
    std::string payload(request.payload);
    const DWORD count = IcmpSendEcho2(handle, nullptr, nullptr, nullptr, request.address,
                                      payload.data(), static_cast<WORD>(payload.size()), &options,
                                      buffer->data(), kAnnouncedReplySize, request.timeout_ms);
    const DWORD error = count == 0 ? GetLastError() : 0;
    IcmpCloseHandle(handle);
    WSACleanup();

    ICMP_ECHO_REPLY first;
    std::memcpy(&first, buffer->data(), sizeof(first));
    ULONG status = first.Status;
    if (count == 0) {
      // No record was written: the call's own error says why (a timeout, mostly).
      status = error;
    }
    EchoReply classified = Classified(status, count, first.RoundTripTime);
    // Who answered: the destination, or the router whose time-to-live check stopped it.
    if (count > 0) classified.from = AddressText(static_cast<Address>(first.Address));
    return classified;
  }

 private:
  static std::optional<Ipv6Address> Resolve6(const std::string& text, int flags, NameError* error) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_flags = flags;
    addrinfo* found = nullptr;
    std::optional<Ipv6Address> address;
    const int status = getaddrinfo(text.c_str(), nullptr, &hints, &found);
    if (error != nullptr)
      *error = status == EAI_NONAME ? NameError::kNoSuchName : NameError::kOther;
    if (status == 0) {
      for (const addrinfo* a = found; a != nullptr && !address; a = a->ai_next) {
        if (a->ai_family != AF_INET6 || a->ai_addrlen < sizeof(sockaddr_in6)) continue;
        sockaddr_in6 in{};
        std::memcpy(&in, a->ai_addr, sizeof(in));
        Ipv6Address six;
        std::memcpy(six.bytes.data(), &in.sin6_addr, 16);
        six.scope_id = in.sin6_scope_id;
        address = six;
      }
      freeaddrinfo(found);
    }
    WSACleanup();
    return address;
  }

  static EchoReply SendEcho6(const EchoRequest& request) {
    IP_OPTION_INFORMATION options{};
    options.Ttl = static_cast<UCHAR>(request.ttl);  // the hop limit
    sockaddr_in6 source{};
    source.sin6_family = AF_INET6;
    sockaddr_in6 destination{};
    destination.sin6_family = AF_INET6;
    std::memcpy(&destination.sin6_addr, request.address6->bytes.data(), 16);
    destination.sin6_scope_id = request.address6->scope_id;
    auto buffer = std::make_unique<std::array<unsigned char, kReplyBufferSize>>();
    buffer->fill(0);

    EchoReply reply;
    const HANDLE handle = Icmp6CreateFile();
    if (handle == INVALID_HANDLE_VALUE) return reply;  // kNoReply
    std::string payload(request.payload);
    const DWORD count = Icmp6SendEcho2(handle, nullptr, nullptr, nullptr, &source, &destination,
                                       payload.data(), static_cast<WORD>(payload.size()), &options,
                                       buffer->data(), kReplyBufferSize, request.timeout_ms);
    const DWORD error = count == 0 ? GetLastError() : 0;
    IcmpCloseHandle(handle);

    // The ICMPv6 reply record (ICMPV6_ECHO_REPLY, which not every SDK declares) is packed: the
    // 26-byte IPV6_ADDRESS_EX, then Status, then RoundTripTime.
    ULONG record_status = 0;
    unsigned int round_trip_ms = 0;
    std::memcpy(&record_status, buffer->data() + kReply6StatusOffset, sizeof(record_status));
    std::memcpy(&round_trip_ms, buffer->data() + kReply6TimeOffset, sizeof(round_trip_ms));
    const ULONG status = count == 0 ? error : record_status;
    EchoReply classified = Classified(status, count, round_trip_ms);
    if (count > 0) {
      Ipv6Address from;
      std::memcpy(from.bytes.data(), buffer->data() + kReply6AddressOffset, 16);
      classified.from = AddressText(from);
    }
    return classified;
  }
};

}  // namespace

std::unique_ptr<EchoService> MakeSystemEchoService() {
  return std::make_unique<WindowsEchoService>();
}

}  // namespace trelvane
