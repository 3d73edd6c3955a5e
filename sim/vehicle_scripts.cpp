// The vehicle's scripts: what an awake ECU of the profile answers to a frame
// the tester sent, as ISO 9141-2 OBD or KWP71.
#include <algorithm>
#include <iterator>
#include <utility>

#include "vehicle_model.h"

namespace vxsim {
namespace {

// ISO 9141-2 OBD headers: request 68 6A F1, response 48 6B <ECU address>.
constexpr std::uint8_t kRequestHeader[] = {0x68, 0x6A, 0xF1};
constexpr std::uint8_t kResponseHeader0 = 0x48;
constexpr std::uint8_t kResponseHeader1 = 0x6B;
// KWP71 blocks end with 03.
constexpr std::uint8_t kKwp71EndByte = 0x03;

Bytes with_checksum(Bytes frame) {
    frame.push_back(iso9141_checksum(frame.data(), frame.size()));
    return frame;
}

bool ends_with_its_checksum(const Bytes& frame) {
    return frame.size() >= 2 && frame.back() == iso9141_checksum(frame.data(), frame.size() - 1);
}

}  // namespace

std::uint8_t iso9141_checksum(const std::uint8_t* data, std::size_t size) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < size; ++i) sum += data[i];
    return static_cast<std::uint8_t>(sum & 0xFFu);
}
std::optional<Bytes> Vehicle::answer(const EcuProfile& ecu, const Bytes& wire) const {
    if (ecu.protocol == EcuProtocol::Kwp71) {
        // length, counter, title, data..., 03; the length counts what follows
        // it. Bytes after the end byte (a checksum the device appended) are
        // not part of the block.
        if (wire.size() < 4) return std::nullopt;
        const std::size_t length = wire[0];
        if (length < 3 || wire.size() < length + 1 || wire[length] != kKwp71EndByte) return std::nullopt;
        // The ECU's block continues the tester's counter (1 to 255, as the
        // tester counts).
        const std::uint8_t counter = wire[1] >= 255 ? 1 : static_cast<std::uint8_t>(wire[1] + 1);
        const std::uint8_t title = wire[2];
        const auto found = std::find_if(ecu.kwp71_answers.begin(), ecu.kwp71_answers.end(),
                                        [&](const Kwp71Answer& a) { return a.title == title; });
        Bytes data;
        std::uint8_t reply_title = 0;
        if (found != ecu.kwp71_answers.end()) {
            reply_title = found->reply_title;
            data = found->reply_data;
        } else if (ecu.unknown_title_reply) {
            reply_title = *ecu.unknown_title_reply;
        } else {
            return std::nullopt;
        }
        Bytes block{static_cast<std::uint8_t>(3 + data.size()), counter, reply_title};
        block.insert(block.end(), data.begin(), data.end());
        block.push_back(kKwp71EndByte);
        return block;
    }

    // ISO 9141-2: [68 6A F1] request [checksum]. A frame that arrives with
    // its own checksum and the device's (both appended) is understood too.
    Bytes message = wire;
    if (ends_with_its_checksum(message)) {
        message.pop_back();
    } else if (ecu.require_checksum) {
        return std::nullopt;
    }
    auto lookup = [&](const Bytes& frame) -> const ObdAnswer* {
        auto body_begin = frame.begin();
        if (frame.size() >= 3 && std::equal(std::begin(kRequestHeader), std::end(kRequestHeader), frame.begin())) {
            body_begin += 3;
        }
        const auto found = std::find_if(ecu.obd_answers.begin(), ecu.obd_answers.end(), [&](const ObdAnswer& a) {
            return std::equal(a.request.begin(), a.request.end(), body_begin, frame.end());
        });
        return found != ecu.obd_answers.end() ? &*found : nullptr;
    };
    const ObdAnswer* found = lookup(message);
    if (found == nullptr && ends_with_its_checksum(message)) {
        message.pop_back();
        found = lookup(message);
    }
    if (found == nullptr) return std::nullopt;
    Bytes reply{kResponseHeader0, kResponseHeader1, ecu.source_address};
    reply.insert(reply.end(), found->response.begin(), found->response.end());
    return with_checksum(std::move(reply));
}

}  // namespace vxsim
