// The host's own settings as scripts see them: options, system values and
// their directories, environment variables and help context ids. The facts
// come from the host (Options.h, AppInfo.h, SystemInfo.h), which documents
// each table; nothing here sends a message.
#include <cmath>
#include <string>
#include <string_view>

#include "AppInfo.h"
#include "FuncKit.h"
#include "Options.h"
#include "SystemInfo.h"
#include "TextLines.h"

namespace {

using namespace cvmod;

// An option nobody declared or set reads as the word FALSE, so that a script
// can test a flag option without first asking whether it exists.
FUNC_ERROR getOption(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    bool found = false;
    const YString v = sp_GetStringOption(stringOr(a, 0), found);
    setString(r, found ? v.view() : std::string_view("FALSE"));
    return FuncOk;
}

template <YString (*lookup)(const char*, bool&)>
FUNC_ERROR systemValue(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    bool found = false;
    const YString v = lookup(stringOr(a, 0), found);
    if (found) setString(r, v.view());
    return FuncOk;
}

FUNC_ERROR getEnvVar(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setString(r, sp_GetEnv(stringOr(a, 0)).view());
    return FuncOk;
}

// "NAME=value": the value is what follows the equals signs after the name,
// so "NAME==value" sets value too; "NAME" alone gives the empty value.
FUNC_ERROR putEnvVar(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    std::string_view rest = stringOr(a, 0);
    YString name;
    sp_GetToken(rest, "=", name);
    rest.remove_prefix(std::min(rest.find_first_not_of('='), rest.size()));
    setBool(r, sp_SetEnv(name.c_str(), std::string(rest).c_str()));
    return FuncOk;
}

FUNC_ERROR helpContextId(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const uint32_t id = sp_GetHelpContextId(stringOr(a, 0));
    if (id != 4294967295u) setString(r, std::to_string(id));
    else if (const std::optional<double> d = optionalReal(a, 1)) setString(r, std::to_string(toInt32(*d)));
    else setString(r, "-1");
    return FuncOk;
}

// clang-format off
FunctionRow registrations[] = {
    {"GetOption",        {String},          {}, 1, 1, handler<getOption>,                          "", PyString,  Plain},
    {"GetHelpContextId", {String, Numeric}, {}, 1, 2, handler<helpContextId>,                      "", PyString,  Plain},
    {"GetEnvVar",        {String},          {}, 1, 1, handler<getEnvVar>,                          "", PyString,  Plain},
    {"PutEnvVar",        {String},          {}, 1, 1, handler<putEnvVar>,                          "", PyBool,    Plain},
    {"SystemValue",      {String},          {}, 1, 1, handler<systemValue<sp_GetSystemValue>>,     "", PyString2, Plain},
    {"SystemValuePath",  {String},          {}, 1, 1, handler<systemValue<sp_GetSystemValuePath>>, "", PyString,  Plain},
};
// clang-format on

}  // namespace
