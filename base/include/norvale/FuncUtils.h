#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "norvale/Export.h"

namespace norvale {

using SysTimePoint = std::chrono::time_point<std::chrono::system_clock, std::chrono::nanoseconds>;

// Stateless helpers; any thread. Number formatting follows the "C" locale.

// Swaps the bytes of each 16-bit word in place; an odd last byte stays as it is.
NR_BASE_EXPORT void convertEndian(std::vector<uint8_t>& buffer);
// The first byte is the most significant.
NR_BASE_EXPORT uint32_t bufToU32BE(const uint8_t* p);
// Logs the identifiers and returns 0; touches no device.
NR_BASE_EXPORT int restartUSBDevice(uint16_t vendorId, uint16_t productId);
// Zero-filled on the left to at least width characters; the fill goes before a minus sign.
NR_BASE_EXPORT std::string intToString(int value, int width);
// Upper-case hex, no prefix; negative values as their 32-bit two's complement.
NR_BASE_EXPORT std::string hexToString(int value, int width);
// Local time "YYYY-mm-dd HH:MM:SS.uuuuuu".
NR_BASE_EXPORT std::string timePointToString(const SysTimePoint& tp);
NR_BASE_EXPORT std::string ipToString(const uint8_t* bytes);
NR_BASE_EXPORT std::string ipToString(uint32_t address);
NR_BASE_EXPORT std::string getSysTime();

// Parses a local date-time "YYYY-mm-dd HH:MM:SS[.ffffff]" with loose blanks.
// Throws std::invalid_argument("Time string is empty"), or std::runtime_error with
// "No timestamp found", "Failed to parse time string: invalid format", "Invalid microsecond part"
// or "mktime failed".
NR_BASE_EXPORT SysTimePoint parseLocalTimeString(const std::string& text);
// Dotted quad to address, first part most significant; missing parts are 0, only the low 8 bits
// of each part count. Throws std::invalid_argument("stoi") or std::out_of_range("stoi").
NR_BASE_EXPORT uint32_t stringToIP(const std::string& text);
// Strict dotted quad check. Throws std::out_of_range("stoi") for a part too long for an int.
NR_BASE_EXPORT bool isValidIP(const std::string& text);
// The cores this process may run on (its CPU affinity), at least 1.
NR_BASE_EXPORT size_t usableCores();
// Names the calling thread (at most 15 characters are kept), so that top -H and the load runs can
// tell a camera's threads from the viewer's.
NR_BASE_EXPORT void nameThisThread(const char* name);

} // namespace norvale
