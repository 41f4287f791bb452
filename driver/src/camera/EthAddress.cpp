#include "camera/EthAddress.h"

namespace norvale {

namespace {
bool usableHost(uint32_t a, uint32_t mask) {
    const uint32_t host = a & ~mask;
    return a != 0 && (a >> 28) < 14 && (a >> 24) != 127 && (a >> 24) != 0 && host != 0 && host != ~mask;
}
} // namespace

bool validEthSettings(uint32_t ip, uint32_t mask, uint32_t gateway, std::string& reason) {
    const uint32_t inverted = ~mask;
    if (mask == 0 || (inverted & (inverted + 1)) != 0) {
        reason = "the subnet mask is not contiguous";
        return false;
    }
    if (inverted < 3) {
        reason = "the subnet mask leaves no room for hosts";
        return false;
    }
    if (!usableHost(ip, mask)) {
        reason = "the address is not a usable host address";
        return false;
    }
    if (!usableHost(gateway, mask) || (gateway & mask) != (ip & mask)) {
        reason = "the gateway is not a host of the camera's subnet";
        return false;
    }
    if (gateway == ip) {
        reason = "the gateway is the camera's own address";
        return false;
    }
    return true;
}

} // namespace norvale
