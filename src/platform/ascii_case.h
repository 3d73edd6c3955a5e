// The one ASCII case helper: texts from hosts and the registry are compared
// and matched without regard to A-Z case, every other byte as it is.
#pragma once

#include <string>

namespace vx {

// ASCII A-Z to a-z; every other byte unchanged.
inline std::string ascii_lowercase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

}  // namespace vx
