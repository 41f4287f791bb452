#include "camera/CameraConfigFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "camera/ToolImpl.h"
#include "norvale/Logger.h"
#include "norvale/SafeOutputFile.h"

namespace norvale {

using nlohmann::json;

namespace {

constexpr size_t kMaxConfigBytes = 1 << 20;

bool toValue(const json& j, int type, ParamValue& v) {
    v = ParamValue{};
    v.type = type;
    switch (type) {
    case PARAM_INT:
        if (!j.is_number_integer() || j.get<int64_t>() < INT32_MIN || j.get<int64_t>() > INT32_MAX) return false;
        v.i = int(j.get<int64_t>());
        return true;
    case PARAM_FLOAT: // the viewer writes float rows as integers
        if (!j.is_number()) return false;
        v.f = j.get<float>();
        return true;
    case PARAM_BOOL:
        if (!j.is_boolean()) return false;
        v.b = j.get<bool>();
        return true;
    case PARAM_ENUM:
        if (!j.is_string()) return false;
        v.s = j.get<std::string>();
        return true;
    default:
        return false;
    }
}

json fromValue(const ParamValue& v) {
    switch (v.type) {
    case PARAM_FLOAT: return json(v.f);
    case PARAM_BOOL: return json(v.b);
    case PARAM_ENUM: return json(v.s);
    default: return json(v.i);
    }
}

// Writes text to path through a fresh temporary renamed into place (never a non-regular output).
bool writeFileReplacing(const std::string& path, const std::string& text) {
    SafeOutputFile out;
    if (!out.open(path)) {
        NR_LOG(LOG_ERROR, "cannot write %s: %s", path.c_str(), out.reason().c_str());
        return false;
    }
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(out.descriptor(), p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            NR_LOG(LOG_ERROR, "cannot write %s: %s", path.c_str(), std::strerror(errno));
            return false; // the temporary goes with out
        }
        p += n;
        left -= size_t(n);
    }
    if (!out.commit()) {
        NR_LOG(LOG_ERROR, "cannot write %s: %s", path.c_str(), out.reason().c_str());
        return false;
    }
    return true;
}

bool readConfigText(const std::string& path, std::string& text) {
    std::string problem;
    if (readSmallTextFile(path, kMaxConfigBytes, text, problem)) return true;
    NR_LOG(LOG_ERROR, "camera configuration %s cannot be read: %s", path.c_str(), problem.c_str());
    return false;
}

} // namespace

bool readSmallTextFile(const std::string& path, size_t maxBytes, std::string& text, std::string& problem,
                       bool* missing) {
    if (missing) {
        struct stat st {};
        *missing = ::stat(path.c_str(), &st) != 0 && errno == ENOENT;
    }
    const int fd = openRegularFile(path, problem);
    if (fd < 0) return false;
    text.assign(maxBytes + 1, '\0');
    size_t got = 0;
    problem.clear();
    while (got < text.size()) {
        const ssize_t n = ::read(fd, &text[got], text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            problem = std::strerror(errno);
            break;
        }
        if (n == 0) break;
        got += size_t(n);
    }
    ::close(fd);
    if (problem.empty() && got > maxBytes)
        problem = "larger than " + std::to_string(maxBytes) + " bytes";
    if (!problem.empty()) {
        text.clear();
        return false;
    }
    text.resize(got);
    return true;
}

bool loadToolConfig(const std::string& path, const std::vector<std::shared_ptr<CameraTool>>& tools) {
    std::string text;
    if (!readConfigText(path, text)) return false;
    json doc;
    try {
        doc = json::parse(text);
    } catch (const json::exception& e) {
        NR_LOG(LOG_ERROR, "camera configuration %s is not JSON: %s", path.c_str(), e.what());
        return false;
    }
    if (!doc.is_object()) {
        NR_LOG(LOG_ERROR, "camera configuration %s: not a JSON object", path.c_str());
        return false;
    }
    // check everything first
    std::vector<std::pair<CameraTool::Impl*, ToolValues>> staged;
    for (const auto& [section, members] : doc.items()) {
        CameraTool::Impl* tool = nullptr;
        for (const auto& t : tools)
            if (t->impl().sectionName() == section) tool = &t->impl();
        if (!tool) {
            NR_LOG(LOG_INFO, "camera configuration %s: section \"%s\" is not a tool of this camera, skipped",
                   path.c_str(), section.c_str());
            continue;
        }
        if (!members.is_object()) {
            NR_LOG(LOG_ERROR, "camera configuration %s: \"%s\" is not an object", path.c_str(), section.c_str());
            return false;
        }
        const auto infos = tool->allInfo();
        ToolValues values;
        for (const auto& [name, value] : members.items()) {
            const auto it = infos.find(name);
            if (it == infos.end()) {
                NR_LOG(LOG_INFO, "camera configuration %s: \"%s\" is not a parameter of %s, skipped", path.c_str(),
                       name.c_str(), section.c_str());
                continue;
            }
            ParamValue v, checked;
            std::string reason = "wrong type";
            if (!toValue(value, it->second.type, v) || !tool->check(name, v, checked, reason)) {
                NR_LOG(LOG_ERROR, "camera configuration %s: %s.%s: %s; nothing applied", path.c_str(), section.c_str(),
                       name.c_str(), reason.c_str());
                return false;
            }
            values[name] = checked;
        }
        staged.emplace_back(tool, std::move(values));
    }
    // then apply, undoing what was applied when a tool refuses its combination
    std::vector<std::pair<CameraTool::Impl*, ToolValues>> before;
    for (auto& [tool, values] : staged) {
        ToolValues old = tool->values();
        std::string reason;
        if (!tool->set(values, &reason)) {
            NR_LOG(LOG_ERROR, "camera configuration %s: %s refuses these values together (%s); nothing applied",
                   path.c_str(), tool->sectionName().c_str(), reason.c_str());
            for (auto& [t, v] : before) t->set(v);
            return false;
        }
        before.emplace_back(tool, std::move(old));
    }
    return true;
}

bool exportToolConfig(const std::string& path, const std::vector<std::shared_ptr<CameraTool>>& tools) {
    json doc = json::object();
    for (const auto& t : tools) {
        json section = json::object();
        for (const auto& [name, value] : t->impl().values()) section[name] = fromValue(value);
        doc[t->impl().sectionName()] = std::move(section);
    }
    return writeFileReplacing(path, doc.dump(4) + "\n");
}

} // namespace norvale
