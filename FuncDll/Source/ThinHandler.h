// The shell every thin handler shares: the concrete argument and result
// objects go to one worker, the result is finished on every path, and the
// worker's code is passed on.
#pragma once
#include "FuncArgs.h"
#include "FuncContract.h"

namespace cvmod {

using Worker = FUNC_ERROR (*)(const FuncArgs&, FuncResult&, MessageHandler&);

template <Worker work>
FUNC_ERROR handler(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler> messages,
                   const ScpParseContext&, const FunctionRunTime&) {
    FUNC_ERROR rc = work(args.funcArgs(), result->funcResult(), *messages);
    result->finish();
    return rc;
}

}  // namespace cvmod
