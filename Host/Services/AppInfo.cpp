#include "AppInfo.h"

#include <sys/utsname.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <fstream>

#include "PathUtil.h"

#ifndef CVFUNC_VERSION
#define CVFUNC_VERSION "0.0.0"
#endif
#ifndef CVFUNC_RELEASE_KIND
#define CVFUNC_RELEASE_KIND 1
#endif
#ifndef CVFUNC_BUILD_KIND
#define CVFUNC_BUILD_KIND 1
#endif
#ifndef CVFUNC_BUILD_NUMBER
#define CVFUNC_BUILD_NUMBER 0
#endif

namespace {

bool sameNoCase(const char* a, const char* b) { return ::strcasecmp(a, b) == 0; }

struct SystemValue {
    const char* name;
    std::string (*value)();
    bool isPath;
};

const SystemValue kSystemValues[] = {
    {"SHAREPATH", [] { return std::string("%SHAREPATH%"); }, true},
    {"EXAMPLEINSTALLDIR", [] { return std::string("%SHAREPATH%/examples"); }, true},
    {"DEVICESPATH", [] { return std::string("%SHAREPATH%/devices"); }, true},
    {"CVAPPDATAPATH", [] { return std::string("%CVFUNC_HOME%"); }, true},
    {"PROGRAMPATH", [] { return sp_GetExeDir(); }, true},
    {"PREFIX", [] { return sp_CleanPath(sp_GetExeDir() + "/.."); }, true},
    {"TEMPPATH", [] { return std::string("%TEMP%"); }, true},
    {"PRODUCTNAME", [] { return std::string("cvfunc"); }, false},
    {"PRODUCTVERSION", [] { return std::string(CVFUNC_VERSION); }, false},
    {"ARCHITECTURE", [] { return sp_GetBinaryArchitecture(); }, false},
};

const SystemValue* findValue(const char* name) {
    for (const auto& v : kSystemValues)
        if (name && sameNoCase(name, v.name)) return &v;
    return nullptr;
}

}  // namespace

void sp_GetVersionValues(CorvantaVersionInfo& info) {
    info = CorvantaVersionInfo{};
    std::sscanf(CVFUNC_VERSION, "%d.%d.%d", &info.major, &info.minor, &info.suffixNumber);
    info.releaseKind = CVFUNC_RELEASE_KIND;
    info.buildKind = CVFUNC_BUILD_KIND;
    info.number = CVFUNC_BUILD_NUMBER;
    std::snprintf(info.text, sizeof info.text, "%s", CVFUNC_VERSION);
}

std::string sp_GetBinaryArchitecture() {
#if defined(__x86_64__)
    return "x86_64";
#elif defined(__aarch64__)
    return "aarch64";
#else
    struct utsname u {};
    return ::uname(&u) == 0 ? u.machine : "unknown";
#endif
}

std::vector<int32_t> sp_GetOldVersions() {
    std::string home;
    sp_TranslateLogicalPath("%CVFUNC_HOME%/versions", home);
    CorvantaVersionInfo self;
    sp_GetVersionValues(self);
    const int32_t current = self.major * 100 + self.minor;
    std::vector<int32_t> out;
    std::ifstream in(home);
    for (std::string line; std::getline(in, line) && out.size() < 10000;) {
        int major = 0, minor = 0;
        char more = 0;
        int32_t v;
        if (std::sscanf(line.c_str(), " %d.%d %c", &major, &minor, &more) == 2 && major >= 0 && major < 1000000 &&
            minor >= 0 && minor < 100)
            v = major * 100 + minor;
        else if (std::sscanf(line.c_str(), " %d %c", &major, &more) == 1 && major >= 0)
            v = major;
        else
            continue;  // blank, a comment, or not a version
        if (v != current) out.push_back(v);
    }
    return out;
}

std::string sp_GetProductFolderName() {
    CorvantaVersionInfo v;
    sp_GetVersionValues(v);
    return "cvfunc/" + std::to_string(v.major) + "." + std::to_string(v.minor);
}

YString sp_GetSystemValue(const char* name, bool& found) {
    const SystemValue* v = findValue(name);
    found = v != nullptr;
    return v ? YString(v->value()) : YString();
}

YString sp_GetSystemValuePath(const char* name, bool& found) {
    const SystemValue* v = findValue(name);
    found = v != nullptr;
    if (!v) return YString();
    std::string text = v->value();
    if (!v->isPath) return YString(text);
    std::string path;
    sp_TranslateLogicalPath(text, path);
    return YString(path.empty() ? path : sp_GetFullPath(path));
}

namespace {
std::atomic<bool (*)(const char*)> gHelpTopicExists{nullptr};
}  // namespace

void cv::setHelpTopicLookup(bool (*exists)(const char* topic)) { gHelpTopicExists.store(exists); }

uint32_t sp_GetHelpContextId(const char* topic) {
    bool (*const exists)(const char*) = gHelpTopicExists.load();
    if (!topic || !exists || !exists(topic)) return 4294967295u;
    uint32_t h = 2166136261u;
    for (const char* p = topic; *p; ++p) {
        h ^= uint8_t(std::tolower(static_cast<unsigned char>(*p)));
        h *= 16777619u;
    }
    return h & 0x7fffffffu;
}

std::vector<std::string> sp_GetSupportedImageReadFormats() { return {}; }

std::vector<std::string> sp_GetSupportedImageWriteFormats() { return {"svg"}; }
