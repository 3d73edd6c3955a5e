#include "core/simulation_switch.h"

namespace vx {

namespace {
bool g_simulation = false;  // constant-initialised
}  // namespace

bool simulation_on() { return g_simulation; }

void set_simulation(bool on) { g_simulation = on; }

}  // namespace vx
