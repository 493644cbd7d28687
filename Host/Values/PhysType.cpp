#include "PhysType.h"

#include <array>
#include <cctype>

namespace {

// Dimensions in half powers, so that square roots of noise powers stay exact.
struct Dims {
    int volt = 0, amp = 0, sec = 0, kelvin = 0;
    bool operator==(const Dims&) const = default;
};

struct TypeInfo {
    const char* name;
    const char* unit;
    bool dimensioned;  // false: a quantity outside the algebra (dB, phase, logic level)
    Dims dims;
};

constexpr std::array<TypeInfo, PhysType::NumCodes> kTypes = {{
    {"Unknown", "", false, {}},
    {"", "", true, {}},
    {"Voltage", "V", true, {2, 0, 0, 0}},
    {"Current", "A", true, {0, 2, 0, 0}},
    {"Time", "s", true, {0, 0, 2, 0}},
    {"Frequency", "Hz", true, {0, 0, -2, 0}},
    {"Resistance", "Ohm", true, {2, -2, 0, 0}},
    {"Conductance", "S", true, {-2, 2, 0, 0}},
    {"Capacitance", "F", true, {-2, 2, 2, 0}},
    {"Inductance", "H", true, {2, -2, 2, 0}},
    {"Charge", "C", true, {0, 2, 2, 0}},
    {"Power", "W", true, {2, 2, 0, 0}},
    {"Energy", "J", true, {2, 2, 2, 0}},
    {"Flux", "Wb", true, {2, 0, 2, 0}},
    {"Temperature", "K", true, {0, 0, 0, 2}},
    {"dB", "dB", false, {}},
    {"Phase", "deg", false, {}},
    {"Voltage squared", "V^2", true, {4, 0, 0, 0}},
    {"Current squared", "A^2", true, {0, 4, 0, 0}},
    {"Voltage noise", "V/rtHz", true, {2, 0, 1, 0}},
    {"Current noise", "A/rtHz", true, {0, 2, 1, 0}},
    {"Voltage noise power", "V^2/Hz", true, {4, 0, 2, 0}},
    {"Current noise power", "A^2/Hz", true, {0, 4, 2, 0}},
    {"Logic level", "", false, {}},
    {"Slew rate", "V/s", true, {2, 0, -2, 0}},
    {"Current slew rate", "A/s", true, {0, 2, -2, 0}},
    {"Time squared", "s^2", true, {0, 0, 4, 0}},
}};

const TypeInfo& info(PhysType t) { return kTypes[static_cast<size_t>(t.code())]; }

PhysType fromDims(const Dims& d) {
    for (int c = 0; c < PhysType::NumCodes; ++c)
        if (kTypes[c].dimensioned && kTypes[c].dims == d) return PhysType(c);
    return PhysType(PhysType::Unknown);
}

template <class Op>
PhysType combine(PhysType a, PhysType b, Op op) {
    if (!info(a).dimensioned || !info(b).dimensioned) return PhysType(PhysType::Unknown);
    const Dims& x = info(a).dims;
    const Dims& y = info(b).dims;
    return fromDims({op(x.volt, y.volt), op(x.amp, y.amp), op(x.sec, y.sec), op(x.kelvin, y.kelvin)});
}

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

PhysType PhysType::add(PhysType a, PhysType b) noexcept {
    if (a == b) return a;
    if (a == None) return b;
    if (b == None) return a;
    return PhysType(Unknown);
}

PhysType PhysType::mult(PhysType a, PhysType b) noexcept {
    if (a == None) return b;
    if (b == None) return a;
    return combine(a, b, [](int x, int y) { return x + y; });
}

PhysType PhysType::div(PhysType a, PhysType b) noexcept {
    if (b == None) return a;
    return combine(a, b, [](int x, int y) { return x - y; });
}

PhysType PhysType::sqrt(PhysType a) noexcept {
    const TypeInfo& t = info(a);
    if (!t.dimensioned) return PhysType(Unknown);
    const Dims& d = t.dims;
    if (d.volt % 2 || d.amp % 2 || d.sec % 2 || d.kelvin % 2) return PhysType(Unknown);
    return fromDims({d.volt / 2, d.amp / 2, d.sec / 2, d.kelvin / 2});
}

PhysType PhysType::db(PhysType a) noexcept {
    if (a == None || a == Unknown) return a;
    return PhysType(Decibel);
}

const char* sp_GetPhysTypeName(PhysType t) noexcept { return info(t).name; }
const char* sp_GetPhysTypeUnit(PhysType t) noexcept { return info(t).unit; }

PhysType sp_GetPhysTypeFromName(std::string_view name) noexcept {
    if (name.empty()) return PhysType(PhysType::None);
    static constexpr std::pair<const char*, int> kWords[] = {
        {"voltage", PhysType::Voltage}, {"current", PhysType::Current}, {"time", PhysType::Time},
        {"frequency", PhysType::Frequency}, {"number", PhysType::None}, {"notype", PhysType::None},
        {"logic", PhysType::LogicLevel}, {"temp-sweep", PhysType::Temperature},
        {"res-sweep", PhysType::Resistance}, {"decibel", PhysType::Decibel},
    };
    for (auto& [w, c] : kWords)
        if (equalNoCase(name, w)) return PhysType(c);
    for (int c = 2; c < PhysType::NumCodes; ++c)
        if (equalNoCase(name, kTypes[c].name) || (kTypes[c].unit[0] && name == kTypes[c].unit))
            return PhysType(c);
    return PhysType(PhysType::Unknown);
}
