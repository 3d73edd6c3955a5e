#include "device_state.h"

#include <exception>

#include "platform/environment.h"

namespace vxsim {

std::mutex& sim_mutex() {
    static std::mutex mutex;
    return mutex;
}

// The state a host finds: the vehicle on, with the profile and speed its
// environment asks for.
State initial_state() {
    State s;
    s.vehicle_on = true;
    try {
        const auto path = vx::platform::environment_variable("VXSIM_PROFILE");
        if (path && !path->empty()) {
            vxsim::VehicleProfile profile;
            if (vxsim::load_vehicle_profile_file(*path, profile, s.vehicle_error)) {
                s.vehicle.set_profile(std::move(profile));
            } else {
                s.open_refusal = "Simulated vehicle profile unusable: " + s.vehicle_error;
            }
        }
        const auto no_device = vx::platform::environment_variable("VXSIM_NO_DEVICE");
        s.no_device = no_device && !no_device->empty() && *no_device != "0";
        const auto instant = vx::platform::environment_variable("VXSIM_INSTANT");
        if (instant && !instant->empty()) s.vehicle.set_instant(*instant != "0");
        // Last: a number that does not read stops here.
        const auto unwritten = vx::platform::environment_variable("VXSIM_UNWRITTEN");
        if (unwritten && !unwritten->empty()) s.unwritten = static_cast<unsigned int>(std::stoul(*unwritten, nullptr, 0));
    } catch (const std::exception&) {
        // Without memory for the settings the built-in vehicle runs as it is.
    }
    s.battery_millivolts = s.vehicle.profile().battery_millivolts;
    return s;
}

State& state() {
    static State s = initial_state();
    return s;
}

}  // namespace vxsim
