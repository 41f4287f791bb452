#pragma once

// The inside of a CameraTool: its parameter table, current values and the hook through which
// the device that owns the tool accepts (and acts on) new values.
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "norvale/CameraTool.h"

namespace norvale {

struct ParamValue {
    int type = PARAM_INT;
    int i = 0;
    float f = 0;
    bool b = false;
    std::string s;
};
using ToolValues = std::map<std::string, ParamValue>;

// Typed reads of a value set that the tool has checked already (names and types exist).
inline int intOf(const ToolValues& v, const std::string& n) { return v.at(n).i; }
inline float floatOf(const ToolValues& v, const std::string& n) { return v.at(n).f; }
inline bool boolOf(const ToolValues& v, const std::string& n) { return v.at(n).b; }
inline const std::string& textOf(const ToolValues& v, const std::string& n) { return v.at(n).s; }
// Index of the value in an enumeration's options (0 when absent).
int optionIndex(const EnumParameterInfo& info, const std::string& value);

// Threads: any; `mutex` guards values and is held while `accept` runs, so a device sees the
// accepted sets in order.
class CameraTool::Impl {
public:
    // accept: called with every complete candidate value set; returns false with a reason to
    // refuse it (the tool keeps its values), true after it has taken the values into use.
    using Accept = std::function<bool(const ToolValues&, std::string& reason)>;

    Impl(ToolType type, std::string name, std::string sectionName);

    void addInt(const std::string& name, const std::string& description, int min, int max, int def,
                const std::string& unit);
    void addFloat(const std::string& name, const std::string& description, float min, float max, float def,
                  const std::string& unit);
    void addBool(const std::string& name, const std::string& description, bool def);
    void addEnum(const std::string& name, const std::string& description, std::vector<std::string> options,
                 const std::string& def);
    // Sets the hook and hands it the defaults once.
    void setAccept(Accept accept);

    ToolType type() const { return toolType; }
    const std::string& name() const { return toolName; }
    const std::string& sectionName() const { return section; }

    std::map<std::string, BasicParameterInfo> allInfo() const;
    bool info(const std::string& name, IntParameterInfo& out) const;
    bool info(const std::string& name, FloatParameterInfo& out) const;
    bool info(const std::string& name, BoolParameterInfo& out) const;
    bool info(const std::string& name, EnumParameterInfo& out) const;
    bool get(const std::string& name, ParamValue& out) const;
    ToolValues values() const;

    // Checks a value against its parameter (name, type, range, option); a float parameter also
    // takes an integer. Fills `checked` with the stored form. False with a reason.
    bool check(const std::string& name, const ParamValue& value, ParamValue& checked, std::string& reason) const;
    // Applies several values at once; false (nothing changed, `reason` filled when given) when a
    // value fails its check, the device refuses the combination or the camera is closed.
    bool set(const ToolValues& changes, std::string* reason = nullptr);
    bool set(const std::string& name, const ParamValue& value, std::string* reason = nullptr);
    // The camera is going: from now on every set is refused, so a tool kept by a caller cannot
    // pretend to change a camera that no longer exists.
    void close();

private:
    struct Param {
        BasicParameterInfo basic;
        IntParameterInfo i;
        FloatParameterInfo f;
        BoolParameterInfo b;
        EnumParameterInfo e;
    };
    void add(Param p, const ParamValue& def);

    const ToolType toolType;
    const std::string toolName, section;
    std::map<std::string, Param> params; // fixed after construction
    mutable std::mutex mutex;
    ToolValues current; // guarded by mutex
    Accept accept;      // guarded by mutex
    bool closed = false; // guarded by mutex
};

// Shares settings from the thread that sets them with the streaming thread, which copies them
// only when they changed (one relaxed load per step otherwise).
template <typename T>
class SharedSettings {
public:
    void publish(const T& value) {
        std::lock_guard<std::mutex> lock(mutex);
        settings = value;
        version.fetch_add(1, std::memory_order_release);
    }
    // True (and out filled) when the settings changed since `seen`.
    bool fetch(T& out, uint64_t& seen) const {
        const uint64_t v = version.load(std::memory_order_acquire);
        if (v == seen) return false;
        std::lock_guard<std::mutex> lock(mutex);
        out = settings;
        seen = version.load(std::memory_order_relaxed);
        return true;
    }
    T get() const {
        std::lock_guard<std::mutex> lock(mutex);
        return settings;
    }

private:
    mutable std::mutex mutex;
    T settings{};
    std::atomic<uint64_t> version{1};
};

} // namespace norvale
