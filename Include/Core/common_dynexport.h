// Late-bound host functions used by the module. This header is compiled into
// more than one of the module's source files; each gets its own pointer
// variables and registrations (internal linkage), as the host expects.
#include "DynFunctions.h"
#include "MessageHandler.h"
#include "YRef.h"
#include "YString.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
namespace {

#define CV_DYN_FUNCTION(ret, name, params)                                                              \
    [[noreturn]] ret name##_unresolved params { cv::throwUnresolvedDynamicFunction(#name); }             \
    ret(*name) params = name##_unresolved;                                                              \
    RegisterDynFuncCall name##_registration(reinterpret_cast<void*>(&name), #name, true,                \
                                            "Include/common_dynexport", __LINE__);

// The host's default message handler.
CV_DYN_FUNCTION(YRef<MessageHandler>, dyn_GetDefaultMessageHandler, ())
// The host's script interpreter interface (opaque to the module).
CV_DYN_FUNCTION(void*, dyn_GetScpInterface, ())
// Identifies an executable or library file: a kind code and a description.
CV_DYN_FUNCTION(int, dyn_IdentifyBinary, (const char* path, YString& description))

#undef CV_DYN_FUNCTION

}  // namespace
#pragma GCC diagnostic pop
