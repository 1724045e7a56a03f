#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "probe/echo_service.h"

namespace trelvane {

// The first address of `name` of one family (AF_INET or AF_INET6) in the resolver's own order:
// 4 or 16 bytes in network byte order. getaddrinfo() would re-sort the list by the RFC 6724 rules
// (same subnet first, ...), so a name listed as "A, B" could be measured at B; gethostbyname2_r
// keeps the order, and is the thread-safe form of gethostbyname.
// `error`, when given, says why there is none.
std::optional<std::array<std::uint8_t, 16>> LookupFirst(std::string_view name, int family,
                                                        NameError* error);

// An IPv6 literal without brackets, with an optional zone ("fe80::1%eth0", "fe80::1%2").
std::optional<Ipv6Address> ParseIpv6Literal(std::string_view text);

}  // namespace trelvane
