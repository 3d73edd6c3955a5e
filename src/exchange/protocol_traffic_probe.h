// The protocol traffic probe: audits traffic on the open ISO 9141 channel for
// the protocol the host names (a KWP71 keepalive, or listening only).
#pragma once

#include <string>
#include <string_view>

namespace vx {

// Runs the probe for the protocol text (empty when the host passed none) and
// returns the result text. Must run inside the export guard.
std::string protocol_traffic_probe(std::string_view protocol);

}  // namespace vx
