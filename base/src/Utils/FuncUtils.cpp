#include "norvale/FuncUtils.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <iomanip>
#include <locale>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "norvale/Logger.h"

namespace norvale {

namespace {

std::ostringstream classicStream() {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    return out;
}

std::vector<std::string> splitDots(const std::string& text) {
    // getline semantics: a single trailing '.' yields no empty last part.
    std::vector<std::string> parts;
    std::istringstream in(text);
    std::string part;
    while (std::getline(in, part, '.')) parts.push_back(part);
    return parts;
}

// Every run of spaces becomes one; a run next to '-' or ':' goes away.
std::string normaliseBlanks(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != ' ') {
            out.push_back(text[i++]);
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && text[end] == ' ') ++end;
        const bool afterSep = !out.empty() && (out.back() == '-' || out.back() == ':');
        const bool beforeSep = end < text.size() && (text[end] == '-' || text[end] == ':');
        if (!afterSep && !beforeSep) out.push_back(' ');
        i = end;
    }
    return out;
}

} // namespace

void convertEndian(std::vector<uint8_t>& buffer) {
    for (std::size_t i = 0; i + 1 < buffer.size(); i += 2) std::swap(buffer[i], buffer[i + 1]);
}

uint32_t bufToU32BE(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

int restartUSBDevice(uint16_t vendorId, uint16_t productId) {
    NR_LOG(LOG_INFO, "Restart USB device: %04x:%04x", unsigned(vendorId), unsigned(productId));
    return 0;
}

std::string intToString(int value, int width) {
    auto out = classicStream();
    out << std::setfill('0') << std::setw(width) << std::right << value;
    return out.str();
}

std::string hexToString(int value, int width) {
    auto out = classicStream();
    out << std::uppercase << std::hex << std::setfill('0') << std::setw(width) << static_cast<uint32_t>(value);
    return out.str();
}

std::string timePointToString(const SysTimePoint& tp) {
    const int64_t ns = tp.time_since_epoch().count();
    const int64_t seconds = ns / 1000000000;
    const int64_t micros = ns / 1000 - seconds * 1000000;
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    localtime_r(&t, &local);
    auto out = classicStream();
    out << std::put_time(&local, "%Y-%m-%d %H:%M:%S") << '.' << std::setfill('0') << std::setw(6) << micros;
    return out.str();
}

std::string ipToString(const uint8_t* bytes) {
    auto out = classicStream();
    out << unsigned(bytes[0]) << '.' << unsigned(bytes[1]) << '.' << unsigned(bytes[2]) << '.' << unsigned(bytes[3]);
    return out.str();
}

std::string ipToString(uint32_t address) {
    const uint8_t bytes[4] = {uint8_t(address >> 24), uint8_t(address >> 16), uint8_t(address >> 8),
                              uint8_t(address)};
    return ipToString(bytes);
}

std::string getSysTime() {
    return timePointToString(std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now()));
}

SysTimePoint parseLocalTimeString(const std::string& text) {
    if (text.empty()) throw std::invalid_argument("Time string is empty");
    const auto firstDigit = text.find_first_of("0123456789");
    if (firstDigit == std::string::npos) throw std::runtime_error("No timestamp found");

    const std::string normal = normaliseBlanks(text.substr(firstDigit));
    std::tm tm{};
    const char* rest = strptime(normal.c_str(), "%Y-%m-%d %H:%M:%S", &tm);
    if (!rest) throw std::runtime_error("Failed to parse time string: invalid format");

    int64_t micros = 0;
    if (*rest == '.') {
        ++rest;
        std::string digits;
        while (*rest >= '0' && *rest <= '9') digits.push_back(*rest++);
        if (!digits.empty()) {
            digits = digits.substr(0, 6);
            digits.append(6 - digits.size(), '0');
            try {
                micros = std::stoll(digits);
            } catch (const std::exception&) {
                throw std::runtime_error("Invalid microsecond part");
            }
        }
    }
    tm.tm_isdst = 0;
    const std::time_t seconds = std::mktime(&tm);
    if (seconds == static_cast<std::time_t>(-1)) throw std::runtime_error("mktime failed");
    // Nanoseconds in 64 bits reach the years 1677 to 2262; a time outside cannot be represented.
    constexpr int64_t kMaxSeconds = INT64_MAX / 1000000000 - 1;
    if (int64_t(seconds) > kMaxSeconds || int64_t(seconds) < -kMaxSeconds) throw std::runtime_error("mktime failed");
    return SysTimePoint(std::chrono::nanoseconds(int64_t(seconds) * 1000000000 + micros * 1000));
}

uint32_t stringToIP(const std::string& text) {
    uint8_t bytes[4] = {0, 0, 0, 0};
    const auto parts = splitDots(text);
    for (std::size_t i = 0; i < parts.size() && i < 4; ++i)
        bytes[i] = static_cast<uint8_t>(std::stoi(parts[i]) & 0xFF);
    return bufToU32BE(bytes);
}

bool isValidIP(const std::string& text) {
    const auto parts = splitDots(text);
    for (const auto& part : parts) {
        if (part.empty()) return false;
        for (char c : part)
            if (c < '0' || c > '9') return false;
        if (part.size() > 1 && part[0] == '0') return false;
        if (std::stoi(part) >= 256) return false;
    }
    return parts.size() == 4;
}

size_t usableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof(set), &set) == 0) return size_t(std::max(1, CPU_COUNT(&set)));
    return std::max(1u, std::thread::hardware_concurrency());
}

void nameThisThread(const char* name) {
    char shortName[16] = {};
    std::snprintf(shortName, sizeof shortName, "%s", name);
    ::pthread_setname_np(::pthread_self(), shortName);
}

} // namespace norvale
