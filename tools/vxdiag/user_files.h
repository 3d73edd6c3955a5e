// Files a person names on the command line: a request written @file.json and
// a steps file (run --steps FILE). Relative paths are taken from the current
// folder, as the shell would.
#pragma once

#include <string>
#include <vector>

namespace vxdiag {

// The whole text of the file; throws UsageError naming `what`, the file and
// the reason when it cannot be read or is larger than a request or a step
// list can sensibly be (1 MiB).
std::string read_user_file(const std::string& path, const std::string& what);

struct StepLine {
    std::size_t number = 0;  // 1-based, for messages
    std::string text;        // the step as written, blanks around it removed
};

// The steps of a steps file: one per line; blank lines and lines whose first
// non-blank character is '#' are skipped.
std::vector<StepLine> step_lines(const std::string& text);

}  // namespace vxdiag
