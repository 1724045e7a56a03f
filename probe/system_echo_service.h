#pragma once

#include <memory>

#include "probe/echo_service.h"

namespace trelvane {

// The echo service of the platform this program was built for (probe/linux or probe/windows).
std::unique_ptr<EchoService> MakeSystemEchoService();

}  // namespace trelvane
