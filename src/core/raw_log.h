// The raw log: timestamped lines accumulated in memory for the host.
#pragma once

#include <string>
#include <string_view>

namespace vx {

enum class LineEnd { CrLf, Lf };

// The one writer of log lines: every export builds its line's text and hands
// it here. Appends "YYYY-MM-DD hh:mm:ss" + text + line end as one piece. The text
// begins with its own blank. A line that cannot be built (out of memory) is
// not appended at all, and the exception propagates to the export guard.
void log_line(std::string_view text, LineEnd end = LineEnd::CrLf);

// Copies the whole log by the result buffer convention and returns its
// length. Holds only the log's own lock, never the core lock, so a reader is
// not held up by a device operation in progress.
int copy_log_out(char* buffer, int size) noexcept;

// For tests: empties the log between cases.
void clear_log_for_tests();

}  // namespace vx
