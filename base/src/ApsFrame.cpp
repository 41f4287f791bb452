#include "norvale/ApsFrame.h"

#include <cstring>

namespace norvale {

namespace {

std::shared_ptr<uint8_t> allocate(uint64_t size, bool zero) {
    uint8_t* p = zero ? new uint8_t[size]() : new uint8_t[size];
    return std::shared_ptr<uint8_t>(p, std::default_delete<uint8_t[]>());
}

} // namespace

ApsFrame::ApsFrame(int width, int height, uint64_t aux, uint64_t ts)
    : auxTimestamp(aux), timestamp(ts), frameWidth(width), frameHeight(height) {
    buffer = allocate(getDataSize(), true);
}

ApsFrame::ApsFrame(int width, int height, uint64_t aux, uint64_t ts, uint8_t* data, uint64_t /*size*/,
                   bool copy)
    : auxTimestamp(aux), timestamp(ts), frameWidth(width), frameHeight(height) {
    if (copy) {
        buffer = allocate(getDataSize(), data == nullptr);
        if (data && getDataSize()) std::memcpy(buffer.get(), data, getDataSize());
    } else {
        buffer = std::shared_ptr<uint8_t>(data, [](uint8_t*) {});
    }
}

ApsFrame ApsFrame::clone() const {
    ApsFrame copy(*this);
    copy.buffer = allocate(getDataSize(), buffer == nullptr);
    if (buffer && getDataSize()) std::memcpy(copy.buffer.get(), buffer.get(), getDataSize());
    return copy;
}

} // namespace norvale
