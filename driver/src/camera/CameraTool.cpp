#include "camera/ToolImpl.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "norvale/Logger.h"

namespace norvale {

int optionIndex(const EnumParameterInfo& info, const std::string& value) {
    const auto it = std::find(info.options.begin(), info.options.end(), value);
    return it == info.options.end() ? 0 : int(it - info.options.begin());
}

CameraTool::Impl::Impl(ToolType type, std::string name, std::string sectionName)
    : toolType(type), toolName(std::move(name)), section(std::move(sectionName)) {}

void CameraTool::Impl::add(Param p, const ParamValue& def) {
    const std::string n = p.basic.name;
    params.emplace(n, std::move(p));
    current[n] = def;
}

void CameraTool::Impl::addInt(const std::string& name, const std::string& description, int min, int max, int def,
                              const std::string& unit) {
    Param p;
    p.basic = {name, description, PARAM_INT};
    static_cast<BasicParameterInfo&>(p.i) = p.basic;
    p.i.min = min;
    p.i.max = max;
    p.i.defaultValue = def;
    p.i.unit = unit;
    ParamValue v;
    v.i = def;
    add(std::move(p), v);
}

void CameraTool::Impl::addFloat(const std::string& name, const std::string& description, float min, float max,
                                float def, const std::string& unit) {
    Param p;
    p.basic = {name, description, PARAM_FLOAT};
    static_cast<BasicParameterInfo&>(p.f) = p.basic;
    p.f.min = min;
    p.f.max = max;
    p.f.defaultValue = def;
    p.f.unit = unit;
    ParamValue v;
    v.type = PARAM_FLOAT;
    v.f = def;
    add(std::move(p), v);
}

void CameraTool::Impl::addBool(const std::string& name, const std::string& description, bool def) {
    Param p;
    p.basic = {name, description, PARAM_BOOL};
    static_cast<BasicParameterInfo&>(p.b) = p.basic;
    p.b.defaultValue = def;
    ParamValue v;
    v.type = PARAM_BOOL;
    v.b = def;
    add(std::move(p), v);
}

void CameraTool::Impl::addEnum(const std::string& name, const std::string& description,
                               std::vector<std::string> options, const std::string& def) {
    Param p;
    p.basic = {name, description, PARAM_ENUM};
    static_cast<BasicParameterInfo&>(p.e) = p.basic;
    p.e.options = std::move(options);
    p.e.defaultValue = def;
    ParamValue v;
    v.type = PARAM_ENUM;
    v.s = def;
    add(std::move(p), v);
}

void CameraTool::Impl::setAccept(Accept a) {
    std::lock_guard<std::mutex> lock(mutex);
    accept = std::move(a);
    std::string ignored; // the defaults always fit
    if (accept) accept(current, ignored);
}

void CameraTool::Impl::close() {
    std::lock_guard<std::mutex> lock(mutex);
    closed = true;
    accept = nullptr; // drops what the hook holds of the camera
}

std::map<std::string, BasicParameterInfo> CameraTool::Impl::allInfo() const {
    std::map<std::string, BasicParameterInfo> out;
    for (const auto& [n, p] : params) out.emplace(n, p.basic);
    return out;
}

namespace {
// The record of one parameter of the wanted type; false for an unknown name or another type.
template <typename Params, typename Field, typename Info>
bool infoOf(const Params& params, const std::string& name, int type, Field field, Info& out) {
    const auto it = params.find(name);
    if (it == params.end() || it->second.basic.type != type) return false;
    out = it->second.*field;
    return true;
}
} // namespace

bool CameraTool::Impl::info(const std::string& name, IntParameterInfo& out) const {
    return infoOf(params, name, PARAM_INT, &Param::i, out);
}
bool CameraTool::Impl::info(const std::string& name, FloatParameterInfo& out) const {
    return infoOf(params, name, PARAM_FLOAT, &Param::f, out);
}
bool CameraTool::Impl::info(const std::string& name, BoolParameterInfo& out) const {
    return infoOf(params, name, PARAM_BOOL, &Param::b, out);
}
bool CameraTool::Impl::info(const std::string& name, EnumParameterInfo& out) const {
    return infoOf(params, name, PARAM_ENUM, &Param::e, out);
}

bool CameraTool::Impl::get(const std::string& name, ParamValue& out) const {
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = current.find(name);
    if (it == current.end()) return false;
    out = it->second;
    return true;
}

ToolValues CameraTool::Impl::values() const {
    std::lock_guard<std::mutex> lock(mutex);
    return current;
}

bool CameraTool::Impl::check(const std::string& name, const ParamValue& value, ParamValue& checked,
                             std::string& reason) const {
    const auto it = params.find(name);
    if (it == params.end()) {
        reason = "unknown parameter";
        return false;
    }
    const Param& p = it->second;
    checked = ParamValue{};
    checked.type = p.basic.type;
    switch (p.basic.type) {
    case PARAM_INT:
        if (value.type != PARAM_INT) break;
        if (value.i < p.i.min || value.i > p.i.max) {
            reason = "out of range " + std::to_string(p.i.min) + ".." + std::to_string(p.i.max);
            return false;
        }
        checked.i = value.i;
        return true;
    case PARAM_FLOAT: {
        if (value.type != PARAM_FLOAT && value.type != PARAM_INT) break;
        const float f = value.type == PARAM_FLOAT ? value.f : float(value.i);
        if (!std::isfinite(f) || f < p.f.min || f > p.f.max) {
            reason = "out of range";
            return false;
        }
        checked.f = f;
        return true;
    }
    case PARAM_BOOL:
        if (value.type != PARAM_BOOL) break;
        checked.b = value.b;
        return true;
    case PARAM_ENUM:
        if (value.type != PARAM_ENUM) break;
        if (std::find(p.e.options.begin(), p.e.options.end(), value.s) == p.e.options.end()) {
            reason = "not one of the options";
            return false;
        }
        checked.s = value.s;
        return true;
    default:
        break;
    }
    reason = "wrong type";
    return false;
}

bool CameraTool::Impl::set(const ToolValues& changes, std::string* reason) {
    std::string why;
    const bool ok = [&] {
        ToolValues checkedChanges;
        for (const auto& [n, v] : changes) {
            ParamValue c;
            if (!check(n, v, c, why)) return false;
            checkedChanges[n] = c;
        }
        std::lock_guard<std::mutex> lock(mutex);
        if (closed) {
            why = "the camera is closed";
            return false;
        }
        ToolValues next = current;
        for (const auto& [n, v] : checkedChanges) next[n] = v;
        if (accept && !accept(next, why)) return false;
        current = std::move(next);
        return true;
    }();
    if (!ok && reason) *reason = why.empty() ? "refused by the camera" : why;
    return ok;
}

bool CameraTool::Impl::set(const std::string& name, const ParamValue& value, std::string* reason) {
    ToolValues one;
    one[name] = value;
    return set(one, reason);
}

// ---- the public face ----

CameraTool::CameraTool(std::unique_ptr<Impl> impl) : d(std::move(impl)) {}
CameraTool::~CameraTool() = default;

ToolType CameraTool::getType() const { return d->type(); }
std::string CameraTool::getName() const { return d->name(); }
std::map<std::string, BasicParameterInfo> CameraTool::getAllParamInfo() const { return d->allInfo(); }
bool CameraTool::getIntParamInfo(const std::string& n, IntParameterInfo& i) const { return d->info(n, i); }
bool CameraTool::getFloatParamInfo(const std::string& n, FloatParameterInfo& i) const { return d->info(n, i); }
bool CameraTool::getBoolParamInfo(const std::string& n, BoolParameterInfo& i) const { return d->info(n, i); }
bool CameraTool::getEnumParamInfo(const std::string& n, EnumParameterInfo& i) const { return d->info(n, i); }

namespace {
bool read(const CameraTool::Impl& d, const std::string& name, int type, ParamValue& v) {
    return d.get(name, v) && v.type == type;
}
} // namespace

bool CameraTool::getParam(const std::string& name, int& value) const {
    ParamValue v;
    if (!read(*d, name, PARAM_INT, v)) return false;
    value = v.i;
    return true;
}
bool CameraTool::getParam(const std::string& name, float& value) const {
    ParamValue v;
    if (!read(*d, name, PARAM_FLOAT, v)) return false;
    value = v.f;
    return true;
}
bool CameraTool::getParam(const std::string& name, bool& value) const {
    ParamValue v;
    if (!read(*d, name, PARAM_BOOL, v)) return false;
    value = v.b;
    return true;
}
bool CameraTool::getParam(const std::string& name, std::string& value) const {
    ParamValue v;
    if (!read(*d, name, PARAM_ENUM, v)) return false;
    value = v.s;
    return true;
}

namespace {
// One value set through the public face; a refusal is logged with its reason, which is how a
// caller (the Python module, the side bar) can tell its user why.
bool setOne(CameraTool::Impl& d, const std::string& name, const ParamValue& v, const std::string& shown) {
    std::string reason;
    if (d.set(name, v, &reason)) return true;
    NR_LOG(LOG_WARN, "%s: %s = %s refused: %s", d.name().c_str(), name.c_str(), shown.c_str(), reason.c_str());
    return false;
}
} // namespace

bool CameraTool::setParam(const std::string& name, int value) {
    ParamValue v;
    v.i = value;
    return setOne(*d, name, v, std::to_string(value));
}
bool CameraTool::setParam(const std::string& name, float value) {
    ParamValue v;
    v.type = PARAM_FLOAT;
    v.f = value;
    char shown[32];
    std::snprintf(shown, sizeof shown, "%g", double(value));
    return setOne(*d, name, v, shown);
}
bool CameraTool::setParam(const std::string& name, bool value) {
    ParamValue v;
    v.type = PARAM_BOOL;
    v.b = value;
    return setOne(*d, name, v, value ? "true" : "false");
}
bool CameraTool::setParam(const std::string& name, const std::string& value) {
    ParamValue v;
    v.type = PARAM_ENUM;
    v.s = value;
    // shown in a log line: short and printable whatever the caller passed
    std::string shown = value.substr(0, 64);
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return setOne(*d, name, v, "\"" + shown + (value.size() > 64 ? "...\"" : "\""));
}

} // namespace norvale
