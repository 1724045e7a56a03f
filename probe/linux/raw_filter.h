#pragma once

#include <cstdint>

#include "probe/icmp_packet.h"

namespace trelvane {

// A raw socket sees every ICMP message of the host. Under heavy echo traffic of other programs its
// queue would overflow and our reply be dropped: a false loss. So, as the most trusted ping does,
// the kernel filters: only echo replies with our identifier and the errors we read get through,
// and the queue gets room for a burst of them.
void AttachRawFilter(int fd, icmp::Family family, std::uint16_t identifier);

}  // namespace trelvane
