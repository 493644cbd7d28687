// The machine, the process and the user: system summary, drives and free
// space, network adapters, environment, executable, process id; the date and
// the clocks; pauses; the clipboard; code signatures; and named mutexes that
// scripts of several processes share, addressed here by small ids.
//
// The facts come from the host's services (SystemInfo.h, Clocks.h,
// Clipboard.h, NamedMutex.h), which say how Linux answers each question. No
// function here sends a message except Sleep, when Ctrl-C ends it, and
// CreateMutex, when every id has been given out.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "Clipboard.h"
#include "Clocks.h"
#include "FuncKit.h"
#include "NamedMutex.h"
#include "SystemInfo.h"

namespace {

using namespace cvmod;

const char* const kInterrupted = "Interrupted in function '%s'";
const char* const kNoMoreMutexIds = "No more mutexes can be made in function '%s': every id has been used";

std::vector<YString> listOf(YList<YString>& list) {
    std::vector<YString> out;
    out.reserve(list.size());
    for (YString& s : list) out.push_back(std::move(s));
    return out;
}

// ---------------------------------------------------------------- date and clocks

FUNC_ERROR date(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setString(r, sp_GetFormattedDate(sameWord(stringOr(a, 0), "iso")).view());
    return FuncOk;
}

FUNC_ERROR timeOfDay(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setString(r, sp_GetFormattedTime(sameWord(stringOr(a, 0), "useFractions")).view());
    return FuncOk;
}

FUNC_ERROR epochTime(const FuncArgs&, FuncResult& r, MessageHandler&) {
    setReal(r, double(sp_EpochTimeMilliSeconds()) / 1000.0);
    return FuncOk;
}

FUNC_ERROR seconds(const FuncArgs&, FuncResult& r, MessageHandler&) {
    setReal(r, double(sp_GetSystemTime()));
    return FuncOk;
}

FUNC_ERROR tickCount(const FuncArgs&, FuncResult& r, MessageHandler&) {
    setReal(r, double(sp_GetTickCount()));
    return FuncOk;
}

FUNC_ERROR performanceTime(const FuncArgs&, FuncResult& r, MessageHandler&) {
    setReal(r, sp_GetPerfTime());
    return FuncOk;
}

// The pause is whole tenths of a second: 0.25 s sleeps 0.2 s. A count of
// tenths beyond 32 bits (or Inf) is held at the largest, about 6.8 years; NaN,
// zero and negative pauses only yield once. Ctrl-C ends a pause at once and
// fails the call, so the command that asked for it stops too.
FUNC_ERROR sleepFor(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const std::optional<double> secs = optionalReal(a, 0);
    const double tenths = secs ? std::trunc(10.0 * *secs) : 0.0;
    const double n = tenths >= 1.0 ? std::min(tenths, 2147483647.0) : 0.0;
    if (n == 0.0) {
        sp_Sleep(0);
        sp_ProcessEvents(0);
    } else {
        InterruptScope watch;
        // Slices of at most 0.1 s against a deadline: a signal that wakes a
        // slice early neither shortens the pause nor delays Ctrl-C.
        const double end = sp_GetPerfTime() + n / 10.0;
        for (;;) {
            const double left = end - sp_GetPerfTime();
            if (left <= 0) break;
            sp_Sleep(uint32_t(std::ceil(std::min(left, 0.1) * 1000.0)));
            sp_ProcessEvents(0);
            if (watch.interrupted()) {
                m.error(kInterrupted, "Sleep");
                return FuncFailed;
            }
        }
    }
    if (secs) setReal(r, *secs);
    else setReals(r, nullptr, 0);
    return FuncOk;
}

// ---------------------------------------------------------------- mutexes

// One mutex of the table: it owns the host's mutex, which it gives back when
// DestroyMutex removes it or the module is unloaded, so that a reloaded
// module can take the name again.
struct MutexRecord {
    std::string name;
    int64_t handle = 0;
    MutexRecord(std::string n, int64_t h) : name(std::move(n)), handle(h) {}
    MutexRecord(MutexRecord&& o) noexcept : name(std::move(o.name)), handle(std::exchange(o.handle, 0)) {}
    MutexRecord(const MutexRecord&) = delete;
    MutexRecord& operator=(const MutexRecord&) = delete;
    ~MutexRecord() {
        if (handle > 0) {
            sp_ReleaseMutex(handle);
            sp_CloseMutex(handle);
        }
    }
};

HandleTable<MutexRecord> gMutexes;

FUNC_ERROR createMutex(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const std::string name = stringOr(a, 0);
    for (const auto& [id, rec] : gMutexes)
        if (rec.name == name) {
            setInteger(r, id);
            return FuncOk;
        }
    const int64_t handle = sp_CreateMutex(name.c_str(), true);
    if (handle < 1) return FuncOk;
    const int32_t id = gMutexes.add(MutexRecord(name, handle));
    if (id == 0) {  // the record, not added, has given the host mutex back
        m.error(kNoMoreMutexIds, "CreateMutex");
        return FuncFailed;
    }
    setInteger(r, id);
    return FuncOk;
}

FUNC_ERROR destroyMutex(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    int32_t id = 0;
    setBool(r, handleOf(a, 0, id) && gMutexes.remove(id));
    return FuncOk;
}

// ---------------------------------------------------------------- the machine

FUNC_ERROR systemInfo(const FuncArgs&, FuncResult& r, MessageHandler&) {
    int major = 0, minor = 0, build = 0;
    sp_GetOsVersion(major, minor, build);
    const uint64_t ram = sp_GetSystemRamSize();
    const std::vector<std::string> info = {
        sp_GetLocalHostId().str(),
        sp_GetUserName().str(),
        sp_IsAdmin() ? "Admin" : "User",
        ram ? std::to_string(ram) : std::string(),
        sp_GetOSClassName().str(),
        sp_GetOsName().str(),
        sp_GetNativeArchitectureString().str(),
        sp_GetProcessorArchitecture().str(),
        std::to_string(major) + "." + std::to_string(minor),
        std::to_string(build),
        std::to_string(sp_GetNumCores()),
        std::to_string(sp_GetNumPhysicalProcessors()),
        std::to_string(sp_GetNumLogicalProcessors()),
        sp_TestExtended() ? "1" : "0",
    };
    setStrings(r, info);
    return FuncOk;
}

FUNC_ERROR driveType(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setString(r, cv::driveTypeWord(sp_GetDriveType(stringOr(a, 0))));
    return FuncOk;
}

FUNC_ERROR freeDiskSpace(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setInteger64(r, sp_GetFreeDiskSpace(stringOr(a, 0)));
    return FuncOk;
}

FUNC_ERROR ethernetAddresses(const FuncArgs&, FuncResult& r, MessageHandler&) {
    YList<YString> list;
    sp_GetEthernetAddresses(list, 2);
    setStrings(r, listOf(list));
    return FuncOk;
}

FUNC_ERROR executableFile(const FuncArgs&, FuncResult& r, MessageHandler&) {
    setString(r, sp_GetExeFileName().view());
    return FuncOk;
}

FUNC_ERROR processId(const FuncArgs&, FuncResult& r, MessageHandler&) {
    setString(r, std::to_string(getpid()));
    return FuncOk;
}

FUNC_ERROR maxCores(const FuncArgs&, FuncResult& r, MessageHandler&) {
    setInteger(r, sp_GetNumCores());
    return FuncOk;
}

FUNC_ERROR privilegedUser(const FuncArgs&, FuncResult& r, MessageHandler&) {
    const YString user = sp_GetUserName();
    setBool(r, sameWord(user.view(), "dvu") || sameWord(user.view(), "devuser"));
    return FuncOk;
}

FUNC_ERROR haveWebBrowser(const FuncArgs&, FuncResult& r, MessageHandler&) {
    setBool(r, sp_HaveOpenWebPage());
    return FuncOk;
}

// A line feed ends a line and takes a carriage return right after it along;
// a carriage return ends a line only before a line feed, and stays text
// anywhere else. So there is one line more than there are line feeds.
std::vector<std::string> clipboardLines(std::string_view t) {
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < t.size(); ++i) {
        const char c = t[i];
        const char next = i + 1 < t.size() ? t[i + 1] : '\0';
        if (c == '\n' || (c == '\r' && next == '\n')) {
            lines.push_back(std::move(line));
            line.clear();
            if ((c == '\n' && next == '\r') || c == '\r') ++i;
        } else {
            line += c;
        }
    }
    lines.push_back(std::move(line));
    return lines;
}

FUNC_ERROR readClipboard(const FuncArgs&, FuncResult& r, MessageHandler&) {
    YString text;
    if (!sp_PasteTextFromClipboard(text)) return FuncOk;
    setStrings(r, clipboardLines(text.view()));
    return FuncOk;
}

FUNC_ERROR signaturePublisher(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setString(r, sp_GetCertificatePublisher(stringOr(a, 0)).view());
    return FuncOk;
}

FUNC_ERROR verifySignature(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setInteger(r, sp_VerifyEmbeddedSignature(stringOr(a, 0)));
    return FuncOk;
}

FUNC_ERROR availableStack(const FuncArgs&, FuncResult& r, MessageHandler&) {
    setInteger64(r, int64_t(std::min<uint64_t>(sp_StackAvail(), INT64_MAX)));
    return FuncOk;
}

FUNC_ERROR environment(const FuncArgs&, FuncResult& r, MessageHandler&) {
    YList<YString> list;
    sp_GetEnvironment(list);
    setStrings(r, listOf(list));
    return FuncOk;
}

// A fixed compiler version that scripts have always been given: they compare
// it, they do not learn from it which compiler built this program.
FUNC_ERROR msvcVersion(const FuncArgs&, FuncResult& r, MessageHandler&) {
    setInteger(r, 1940);
    return FuncOk;
}

// clang-format off
FunctionRow registrations[] = {
    {"CreateMutex",             {String}, {}, 1, 1, handler<createMutex>,        "", PyInteger,    Plain},
    {"DestroyMutex",            {Real},   {}, 1, 1, handler<destroyMutex>,       "", PyBool,       Plain},
    {"Date",                    {String}, {}, 0, 1, handler<date>,               "", PyString,     Plain},
    {"Time",                    {String}, {}, 0, 1, handler<timeOfDay>,          "", PyString,     Plain},
    {"EpochTime",               {Any},    {}, 0, 0, handler<epochTime>,          "", PyReal,       Plain},
    {"Seconds",                 {Any},    {}, 0, 0, handler<seconds>,            "", PyReal,       Plain},
    {"TickCount",               {Any},    {}, 0, 0, handler<tickCount>,          "", PyReal,       Plain},
    {"GetPerformanceTime",      {Any},    {}, 0, 0, handler<performanceTime>,    "", PyReal,       Plain},
    {"Sleep",                   {Real},   {}, 1, 1, handler<sleepFor>,           "", PyReal,       Plain},
    {"GetEthernetAddresses",    {Any},    {}, 0, 0, handler<ethernetAddresses>,  "", PyStringList, FirstFlag},
    {"GetExecutableFile",       {Any},    {}, 0, 0, handler<executableFile>,     "", PyString,     Plain},
    {"GetFreeDiskSpace",        {String}, {}, 1, 1, handler<freeDiskSpace>,      "", PyInteger64,  Plain},
    {"GetMaxCores",             {Any},    {}, 0, 0, handler<maxCores>,           "", PyInteger,    Plain},
    {"GetPID",                  {Any},    {}, 0, 0, handler<processId>,          "", PyString,     Plain},
    {"GetSignaturePublisher",   {String}, {}, 1, 1, handler<signaturePublisher>, "", PyString,     Plain},
    {"GetSystemInfo",           {Any},    {}, 0, 0, handler<systemInfo>,         "", PyStringList, Plain},
    {"HaveWebBrowser",          {Any},    {}, 0, 0, handler<haveWebBrowser>,     "", PyBool,       Plain},
    {"PrivilegedUser",          {Any},    {}, 0, 0, handler<privilegedUser>,     "", PyBool,       Plain},
    {"ReadClipboard",           {Any},    {}, 0, 0, handler<readClipboard>,      "", PyStringList, Plain},
    {"VerifyEmbeddedSignature", {String}, {}, 1, 1, handler<verifySignature>,    "", PyInteger,    Plain},
    {"_GetAvailableStack",      {Any},    {}, 0, 0, handler<availableStack>,     "", PyInteger64,  Plain},
    {"_GetEnvironment",         {Any},    {}, 0, 0, handler<environment>,        "", PyStringList, Plain},
    {"_GetMsvcVer",             {Any},    {}, 0, 0, handler<msvcVersion>,        "", PyInteger,    Plain},
    {"GetDriveType",            {String}, {}, 1, 1, handler<driveType>,          "", PyString,     Plain},
};
// clang-format on

}  // namespace
