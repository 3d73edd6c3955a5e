// Lines on stdout, with a failed write remembered: after a full disk, a
// closed pipe or a closed terminal the session stops and closes the device,
// and vxdiag exits 1, rather than go on driving a vehicle nobody watches.
#pragma once

#include <string>
#include <string_view>

namespace vxdiag {

void print_line(const std::string& line);

// A message on stderr, "vxdiag: " and a line end added. Never throws (it
// allocates nothing): a message that cannot be written must not cut a
// session short.
void print_note(std::string_view message) noexcept;

// Flushes stdout; false once any write to it has failed.
bool stdout_ok();

// The reason of the first failed write, e.g. "No space left on device".
const std::string& stdout_error();

}  // namespace vxdiag
