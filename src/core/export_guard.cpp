#include "core/export_guard.h"

namespace vx {

std::mutex& core_mutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace vx
