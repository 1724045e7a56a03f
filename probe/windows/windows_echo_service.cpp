// ICMP echo through the Windows ICMP service (icmp.dll, exported today by iphlpapi) and the
// resolver of Windows Sockets 1.1 (wsock32).

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>
// clang-format on

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

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

class WindowsEchoService final : public EchoService {
 public:
  Address ParseAddress(std::string_view text) override {
    return inet_addr(std::string(text).c_str());
  }

  Address LookupHost(std::string_view name) override {
    WSADATA data;
    WSAStartup(kWinsockVersion, &data);
    Address address = kNoAddress;
    // gethostbyname keeps its answer per thread, so concurrent calls do not clash.
    const hostent* answer = gethostbyname(std::string(name).c_str());
    if (answer != nullptr && answer->h_addrtype == AF_INET && answer->h_length == 4 &&
        answer->h_addr_list != nullptr && answer->h_addr_list[0] != nullptr) {
      std::memcpy(&address, answer->h_addr_list[0], sizeof(address));
    }
    WSACleanup();
    return address;
  }

  EchoReply SendEcho(const EchoRequest& request) override {
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
    const DWORD count =
        IcmpSendEcho(handle, request.address, payload.data(), static_cast<WORD>(payload.size()),
                     &options, buffer->data(), kAnnouncedReplySize, request.timeout_ms);
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
    switch (status) {
      case IP_SUCCESS:
      case IP_TTL_EXPIRED_TRANSIT:
        if (count == 0) return reply;  // no record to read a time from
        reply.status = status == IP_SUCCESS ? EchoStatus::kSuccess : EchoStatus::kTtlExpired;
        reply.round_trip_ms = first.RoundTripTime;
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
};

}  // namespace

std::unique_ptr<EchoService> MakeSystemEchoService() {
  return std::make_unique<WindowsEchoService>();
}

}  // namespace trelvane
