// Time texts: only the documented exceptions may come out.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "norvale/FuncUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const auto tp = norvale::parseLocalTimeString(text);
        (void)norvale::timePointToString(tp);
    } catch (const std::invalid_argument&) {
    } catch (const std::runtime_error&) {
    }
    try {
        (void)norvale::stringToIP(text);
        (void)norvale::isValidIP(text);
    } catch (const std::invalid_argument&) {
    } catch (const std::out_of_range&) {
    }
    return 0;
}
