// The process-wide simulation switch: while it is on, every K-line operation
// answers with a simulated result and transmits nothing. VX_SetSimulation
// sets it; closing the device turns it on and a successful open turns it off.
#pragma once

namespace vx {

// Both only inside the export guard.
bool simulation_on();
void set_simulation(bool on);

}  // namespace vx
