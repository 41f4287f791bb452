#include "Args.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

Args::Args(const std::vector<std::string>& words, const std::vector<std::string>& valueOptions,
           const std::vector<std::string>& flags) {
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (std::find(flags.begin(), flags.end(), w) != flags.end()) {
            opts[w] = "";
        } else if (w.size() > 2 && w.compare(0, 2, "--") == 0) {
            if (std::find(valueOptions.begin(), valueOptions.end(), w) == valueOptions.end())
                throw UsageError("unknown option " + w);
            if (i + 1 >= words.size()) throw UsageError("option " + w + " needs a value");
            opts[w] = words[++i];
        } else {
            pos.push_back(w);
        }
    }
}

uint64_t Args::u64(const std::string& name, uint64_t fallback) const {
    auto it = opts.find(name);
    if (it == opts.end()) return fallback;
    const std::string& v = it->second;
    char* end = nullptr;
    errno = 0;
    const unsigned long long x = std::strtoull(v.c_str(), &end, 10);
    if (v.empty() || v[0] == '-' || *end != '\0' || errno == ERANGE)
        throw UsageError(name + ": '" + v + "' is not a whole non-negative number");
    return x;
}

std::string Args::text(const std::string& name) const {
    auto it = opts.find(name);
    return it == opts.end() ? std::string() : it->second;
}

double Args::number(const std::string& name, double fallback) const {
    auto it = opts.find(name);
    if (it == opts.end()) return fallback;
    const std::string& v = it->second;
    char* end = nullptr;
    const double x = std::strtod(v.c_str(), &end);
    if (v.empty() || *end != '\0' || !std::isfinite(x)) throw UsageError(name + ": '" + v + "' is not a number");
    return x;
}
