#pragma once

// What the HDF5 reader and writer share: the one lock every HDF5 call of the process takes (the
// serial library is not thread-safe), the library's own error printing silenced once, the filter
// plugins' folder made known, handles closed by scope, and the library's last error as text.
#include <hdf5.h>

#include <mutex>
#include <string>

namespace norvale::detail::hdf5 {

// Held around every HDF5 call. Recursive: a handle closed while its owner holds it takes it again.
std::recursive_mutex& lock();
// In a child just forked while the lock was held: the child's own lock (the held one belongs to a
// thread the child does not have).
void freshLockInChild();

// Silences the library's printing and adds the plugin folder; once, under lock().
void initLibrary();

// The innermost message of the library's error stack ("" when empty), for our own messages.
std::string lastError();
// ": " and the library's innermost error, or nothing when it gave none (then cleared).
std::string because();

// Closes an HDF5 identifier of any kind when it goes out of scope.
class Handle {
public:
    Handle() = default;
    explicit Handle(hid_t id) : id(id) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept : id(other.id) { other.id = H5I_INVALID_HID; }
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            reset();
            id = other.id;
            other.id = H5I_INVALID_HID;
        }
        return *this;
    }
    void reset(hid_t next = H5I_INVALID_HID);
    // Gives up the identifier without closing it.
    hid_t release() {
        const hid_t out = id;
        id = H5I_INVALID_HID;
        return out;
    }
    hid_t get() const { return id; }
    bool valid() const { return id >= 0; }
    explicit operator bool() const { return valid(); }

private:
    hid_t id = H5I_INVALID_HID;
};

} // namespace norvale::detail::hdf5
