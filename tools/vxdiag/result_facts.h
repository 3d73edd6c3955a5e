// The facts one looks for in a step's JSON result, in reading order: TX
// bytes, replies, statuses, the voltage, the decoded trouble codes and
// supported PIDs, plus detail lines where a list does not fit on one line.
#pragma once

#include "json_members.h"
#include "step_catalogue.h"

#include <string>
#include <vector>

namespace vxdiag {

struct Facts {
    std::vector<std::string> items;    // joined into the step's line
    std::vector<std::string> details;  // one line each, below it
};

// May throw nlohmann::json::exception on a member of an unexpected type.
Facts result_facts(const Json& result, const Step& step);

// What a mode 03 or mode 01 PID 00 read found in its replies, e.g.
// "2 stored trouble codes: P0133 P0300" or "no reply: fault memory unknown".
std::string fault_memory_fact(const std::vector<std::string>& reply_hexes);
std::string supported_pids_fact(const std::vector<std::string>& reply_hexes);

}  // namespace vxdiag
