#pragma once

// Checks of an Ethernet camera's new address. Stateless; any thread.
#include <cstdint>
#include <string>

namespace norvale {

// A usable host address, mask and gateway: mask contiguous with room for hosts (/1 to /30);
// ip and gateway not 0, not multicast or reserved (224.0.0.0 and up), not loopback, not the
// subnet's network or broadcast address, in the same subnet, and different from each other.
// False with the reason otherwise.
bool validEthSettings(uint32_t ip, uint32_t mask, uint32_t gateway, std::string& reason);

} // namespace norvale
