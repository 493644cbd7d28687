// A stand-in device plug-in for the tests of the plug-in preference: it
// accepts what the host parser would refuse (a delay term) and answers with
// codes the host never gives, so a test can tell who answered. Built twice,
// once without its entry point.
#include <cstring>

#ifndef CVFUNC_PLUGIN_WITHOUT_ENTRY
extern "C" __attribute__((visibility("default"))) int laplace_CheckLaplaceExpression(const char* expression) {
    if (!expression) return 41;
    return std::strstr(expression, "exp(") ? 0 : 42;
}
#else
extern "C" __attribute__((visibility("default"))) int laplace_SomethingElse(const char*) { return 0; }
#endif
