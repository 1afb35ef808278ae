#pragma once

#include <cstdint>
#include <string>

namespace vantari {

// Whether a TCP connection to host:port opens within timeoutMs: the connectivity check's
// second opinion on a network that filters ICMP. Blocks; raises only EIdCancelled.
bool ServerAnswers(const std::string &host, int32_t port, int32_t timeoutMs);

} // namespace vantari
