#include "probe/linux/resolver.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace trelvane {
namespace {

// A resolver answer never needs more room than this; a name whose answer would is not resolved.
constexpr std::size_t kMaxResolverBuffer = std::size_t{1} << 20;

}  // namespace

std::optional<std::array<std::uint8_t, 16>> LookupFirst(std::string_view name, int family,
                                                        NameError* error) {
  const std::string text(name);
  const int length = family == AF_INET6 ? 16 : 4;
  std::vector<char> buffer(4096);
  hostent entry{};
  hostent* found = nullptr;
  int h_error = 0;
  while (gethostbyname2_r(text.c_str(), family, &entry, buffer.data(), buffer.size(), &found,
                          &h_error) == ERANGE &&
         buffer.size() < kMaxResolverBuffer) {
    buffer.resize(buffer.size() * 2);
  }
  if (found == nullptr || found->h_addrtype != family || found->h_length != length ||
      found->h_addr_list == nullptr || found->h_addr_list[0] == nullptr) {
    // HOST_NOT_FOUND is the one definite "no such name"; TRY_AGAIN (no resolver answered),
    // NO_DATA (no address of this family) and the rest are not.
    if (error != nullptr) {
      *error = found == nullptr && h_error == HOST_NOT_FOUND ? NameError::kNoSuchName
                                                             : NameError::kOther;
    }
    return std::nullopt;
  }
  std::array<std::uint8_t, 16> address{};
  std::memcpy(address.data(), found->h_addr_list[0], static_cast<std::size_t>(length));
  return address;
}

std::optional<Ipv6Address> ParseIpv6Literal(std::string_view text) {
  Ipv6Address address;
  const std::size_t percent = text.find('%');
  if (percent != std::string_view::npos) {
    // The zone: an interface's name or its index.
    const std::string zone(text.substr(percent + 1));
    if (zone.empty()) return std::nullopt;
    address.scope_id = zone.find_first_not_of("0123456789") == std::string::npos
                           ? static_cast<std::uint32_t>(std::strtoul(zone.c_str(), nullptr, 10))
                           : if_nametoindex(zone.c_str());
    if (address.scope_id == 0) return std::nullopt;
    text = text.substr(0, percent);
  }
  in6_addr parsed{};
  if (inet_pton(AF_INET6, std::string(text).c_str(), &parsed) != 1) return std::nullopt;
  std::memcpy(address.bytes.data(), &parsed, 16);
  return address;
}

}  // namespace trelvane
