// Late-bound host functions: the module declares a function-pointer variable
// per name and registers it; the host fills it in when it resolves the name.
// Until then the variable points to a stub that throws DynFuncException.
#pragma once
#include <cstdint>
#include <vector>

#include "YString.h"

class RegisterDynFuncCall {
public:
    RegisterDynFuncCall(void* slotAddress, const char* name, bool critical, const char* headerPath, int line);
    ~RegisterDynFuncCall();
    RegisterDynFuncCall(const RegisterDynFuncCall&) = delete;
    RegisterDynFuncCall& operator=(const RegisterDynFuncCall&) = delete;

private:
    void* slot_;
};

// The host's record of one late-bound function name.
struct DynamicFunctionInfo {
    YString name;          // 1: the function's name
    YString headerPath;    // 2: the declaring header
    YString module;        // 3: the file name of the module that declared it
    int32_t line = 0;      // 4: the declaration's line in the header
    YString providerPath;  // 5: the library that provides it ("" while unresolved)
    YString status;        // 6: "resolved" or "unresolved"
    int32_t slots = 0;     // 7: pointer variables registered under the name
    bool critical = false; // 8
};

// One entry per name, in order of first registration; with unresolvedOnly,
// only the names not resolved.
void sp_GetDynamicFunctionInfo(std::vector<DynamicFunctionInfo>& table, bool unresolvedOnly);
// The names not resolved (all, or only the critical ones).
void sp_GetUnresolvedDynamicFunctions(std::vector<DynamicFunctionInfo>& list, bool criticalOnly);
// Fills every registered slot whose name the host provides; returns how many
// names stay unresolved.
namespace cv {
int resolveDynamicFunctions();
// Thrown by the stubs of unresolved names.
[[noreturn]] void throwUnresolvedDynamicFunction(const char* name);
}  // namespace cv
