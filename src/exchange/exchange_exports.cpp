// The probe exports: what the interface puts on the K-line and what comes back.
#include <string_view>

#include "VXArvessaDiagCore.h"
#include "core/export_guard.h"
#include "exchange/kline_activity_probe.h"
#include "exchange/protocol_traffic_probe.h"

extern "C" {

VX_API int VX_CALL VX_KLineActivityProbe(char* buffer, int size) {
    return vx::guarded_result(buffer, size, [] { return vx::kline_activity_probe(); });
}

VX_API int VX_CALL VX_ProtocolTrafficProbe(const char* probe, char* buffer, int size) {
    return vx::guarded_result(buffer, size, [probe] {
        return vx::protocol_traffic_probe(probe != nullptr ? std::string_view(probe) : std::string_view());
    });
}

}  // extern "C"
