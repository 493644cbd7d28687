// Physical quantity of a vector's values or of its reference. The rules below
// give the quantity of a result from those of its operands; quantities are
// tracked as powers of volt, ampere, second and kelvin so that products and
// quotients of known quantities land on known quantities (1 / time is
// frequency, volt / ampere is resistance, the square root of V^2/Hz is V/rtHz).
#pragma once
#include <string_view>

class PhysType {
public:
    enum Code : int {
        Unknown = 0, None = 1, Voltage = 2, Current = 3, Time = 4, Frequency = 5,
        Resistance = 6, Conductance = 7, Capacitance = 8, Inductance = 9, Charge = 10,
        Power = 11, Energy = 12, Flux = 13, Temperature = 14, Decibel = 15, Phase = 16,
        VoltageSquared = 17, CurrentSquared = 18, VoltageNoise = 19, CurrentNoise = 20,
        VoltageNoisePower = 21, CurrentNoisePower = 22, LogicLevel = 23, SlewRate = 24,
        CurrentSlewRate = 25, TimeSquared = 26,
        NumCodes
    };

    constexpr PhysType() noexcept : code_(None) {}
    constexpr PhysType(int code) noexcept : code_(code >= 0 && code < NumCodes ? code : Unknown) {}
    constexpr int code() const noexcept { return code_; }
    constexpr operator int() const noexcept { return code_; }

    // Host rules. One-operand forms have a name of their own so that they can
    // be stored in rule tables as plain PhysType(*)(PhysType).
    static PhysType add(PhysType a, PhysType b) noexcept;
    static PhysType mult(PhysType a, PhysType b) noexcept;
    static PhysType div(PhysType a, PhysType b) noexcept;
    static PhysType sqrt(PhysType a) noexcept;
    static PhysType db(PhysType a) noexcept;
    static PhysType same(PhysType a) noexcept { return a; }
    static PhysType same(PhysType a, PhysType b) noexcept { return a == b ? a : PhysType(Unknown); }
    static PhysType none(PhysType = {}) noexcept { return PhysType(None); }
    static PhysType none(PhysType, PhysType) noexcept { return PhysType(None); }
    static PhysType unknown(PhysType = {}) noexcept { return PhysType(Unknown); }
    static PhysType unknown(PhysType, PhysType) noexcept { return PhysType(Unknown); }

private:
    int code_ = None;
};

using PhysTypeRule = PhysType (*)(PhysType);
using PhysTypeRule2 = PhysType (*)(PhysType, PhysType);

// Display name ("Voltage", "Time", ...); empty for a plain number.
const char* sp_GetPhysTypeName(PhysType t) noexcept;
// Unit symbol ("V", "s", ...); empty for a plain number or an unknown type.
const char* sp_GetPhysTypeUnit(PhysType t) noexcept;
// Looks a quantity up by display name, unit or a common lower-case word
// ("voltage", "time", "frequency", "current", "V", "Hz"); Unknown when none fits.
PhysType sp_GetPhysTypeFromName(std::string_view name) noexcept;
