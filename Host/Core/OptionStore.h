#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cv {

struct OptionInfo {
    std::string name;
    std::string defaultValue;
    std::optional<std::string> value;  // set by the user
    bool isInteger = false;
    std::string source;  // declaring file and line
};

// What an option does, for `cvfunc --help options` and for the warning when
// one is set. `readHere` is false for the options the module declares for a
// graphical host (how it resamples and draws waveforms, which style sheets
// its report pages get): they can be set and read back with GetOption, but
// no function of this host changes with them.
struct OptionDoc {
    const char* name;
    bool readHere;
    const char* text;
};

// The documentation of every option this host or its module declares, in
// name order; nullptr for a name it does not know.
const OptionDoc* optionDoc(std::string_view name) noexcept;
std::span<const OptionDoc> optionDocs() noexcept;
// The warning for setting an option no function here reads, or "" for one
// that a function reads or that is unknown.
std::string unreadOptionWarning(std::string_view name);

class OptionStore {
public:
    static OptionStore& global();
    void declare(std::string_view name, std::string defaultValue, bool isInteger, std::string source);
    // Allocates nothing: it runs in the module's static destructors at unload.
    void undeclare(std::string_view name) noexcept;
    // Sets an option's value; an option nobody declared is kept as given.
    void set(std::string_view name, std::string value);
    void reset(std::string_view name);
    // Current value, or the default; nullopt when unknown.
    std::optional<std::string> get(std::string_view name) const;
    std::vector<OptionInfo> all() const;
    // Counts the changes of any option: a reader that parsed a value may
    // keep it while this stays the same.
    uint64_t generation() const noexcept { return generation_; }

private:
    std::map<std::string, OptionInfo, std::less<>> options_;  // keyed by lower-case name
    uint64_t generation_ = 0;
};

}  // namespace cv
