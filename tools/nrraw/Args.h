#pragma once

// Command-line words of nrraw: positionals and "--name value" options. Parsing errors are
// reported by throwing UsageError with the text to show.
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Args {
public:
    // valueOptions: the option names that take a value; flags: those that take none.
    Args(const std::vector<std::string>& words, const std::vector<std::string>& valueOptions,
         const std::vector<std::string>& flags = {});

    const std::vector<std::string>& positional() const { return pos; }
    bool has(const std::string& name) const { return opts.count(name) != 0; }
    uint64_t u64(const std::string& name, uint64_t fallback) const;
    double number(const std::string& name, double fallback) const;
    std::string text(const std::string& name) const; // "" when absent

private:
    std::vector<std::string> pos;
    std::map<std::string, std::string> opts;
};
