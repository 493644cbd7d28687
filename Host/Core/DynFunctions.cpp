#include "DynFunctions.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "CorvantaException.h"
#include "FunctionTable.h"
#include "MessageHandler.h"
#include "PrintfArg.h"

namespace {

struct Registration {
    void** slot;
    std::string name;
    bool critical;
    std::string header;
    int line;
    std::string module;
    bool resolved = false;
};

std::vector<Registration>& registrations() {
    static auto* r = new std::vector<Registration>;
    return *r;
}

// ---- what the host provides

class StderrMessages : public MessageHandler {
public:
    void report(Severity s, const std::string& text) override {
        std::fprintf(stderr, "%s%s\n", s == Error ? "Error: " : s == Warning ? "Warning: " : "", text.c_str());
    }
};

YRef<MessageHandler> hostDefaultMessageHandler() {
    static YRef<MessageHandler> handler = makeYRef<StderrMessages>();
    return handler;
}

void* hostScriptInterface() { return &cv::FunctionTable::global(); }

int hostIdentifyBinary(const char* path, YString& description) {
    unsigned char h[20] = {};
    FILE* f = path ? std::fopen(path, "rb") : nullptr;
    if (!f) {
        description = "cannot open";
        return -1;
    }
    size_t n = std::fread(h, 1, sizeof h, f);
    std::fclose(f);
    if (n >= 5 && std::memcmp(h, "\x7f" "ELF", 4) == 0) {
        description = h[4] == 2 ? "ELF 64-bit" : "ELF 32-bit";
        return h[4] == 2 ? 64 : 32;
    }
    if (n >= 2 && h[0] == 'M' && h[1] == 'Z') {
        description = "PE executable";
        return 1;
    }
    if (n >= 2 && h[0] == '#' && h[1] == '!') {
        description = "script";
        return 2;
    }
    description = "unknown";
    return 0;
}

const std::map<std::string, void*>& providers() {
    static const std::map<std::string, void*> p = {
        {"dyn_GetDefaultMessageHandler", reinterpret_cast<void*>(&hostDefaultMessageHandler)},
        {"dyn_GetScpInterface", reinterpret_cast<void*>(&hostScriptInterface)},
        {"dyn_IdentifyBinary", reinterpret_cast<void*>(&hostIdentifyBinary)},
    };
    return p;
}

std::string libraryOf(const void* address) {
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_fname) return "";
    return info.dli_fname;
}

std::string fileName(const std::string& path) {
    size_t p = path.find_last_of('/');
    return p == std::string::npos ? path : path.substr(p + 1);
}

}  // namespace

RegisterDynFuncCall::RegisterDynFuncCall(void* slotAddress, const char* name, bool critical,
                                         const char* headerPath, int line)
    : slot_(slotAddress) {
    try {  // a static object of the module (see FuncConstruct)
        registrations().push_back({static_cast<void**>(slotAddress), name ? name : "", critical,
                                   headerPath ? headerPath : "", line, fileName(libraryOf(slotAddress))});
    } catch (const std::bad_alloc&) {
        cv::noteFailedRegistration();
    }
}

RegisterDynFuncCall::~RegisterDynFuncCall() {
    auto& r = registrations();
    r.erase(std::remove_if(r.begin(), r.end(), [this](const Registration& x) { return x.slot == slot_; }), r.end());
}

int cv::resolveDynamicFunctions() {
    for (auto& r : registrations()) {
        auto it = providers().find(r.name);
        if (it == providers().end()) continue;
        *r.slot = it->second;
        r.resolved = true;
    }
    std::vector<DynamicFunctionInfo> open;
    sp_GetUnresolvedDynamicFunctions(open, false);
    return int(open.size());
}

void sp_GetDynamicFunctionInfo(std::vector<DynamicFunctionInfo>& table, bool unresolvedOnly) {
    table.clear();
    for (const auto& r : registrations()) {
        auto it = std::find_if(table.begin(), table.end(),
                               [&](const DynamicFunctionInfo& e) { return e.name == r.name.c_str(); });
        if (it == table.end()) {
            DynamicFunctionInfo e;
            e.name = r.name;
            e.headerPath = r.header;
            e.module = r.module;
            e.line = r.line;
            e.critical = r.critical;
            e.status = "resolved";
            table.push_back(e);
            it = table.end() - 1;
        }
        ++it->slots;
        it->critical = it->critical || r.critical;
        if (!r.resolved) it->status = "unresolved";
        else if (it->providerPath.empty()) it->providerPath = libraryOf(*r.slot);
    }
    if (unresolvedOnly)
        table.erase(std::remove_if(table.begin(), table.end(),
                                   [](const DynamicFunctionInfo& e) { return e.status == "resolved"; }),
                    table.end());
}

void sp_GetUnresolvedDynamicFunctions(std::vector<DynamicFunctionInfo>& list, bool criticalOnly) {
    sp_GetDynamicFunctionInfo(list, true);
    if (criticalOnly)
        list.erase(std::remove_if(list.begin(), list.end(), [](const DynamicFunctionInfo& e) { return !e.critical; }),
                   list.end());
}

void cv::throwUnresolvedDynamicFunction(const char* name) {
    throw DynFuncException(cv::formatPrintf("*** FATAL ERROR *** Unresolved dynamic function '%s' called", {name}).c_str());
}
