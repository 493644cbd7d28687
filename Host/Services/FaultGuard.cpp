#include "FaultGuard.h"

#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

thread_local sigjmp_buf* tGuard = nullptr;

void onFault(int) {
    if (tGuard) siglongjmp(*tGuard, 1);
    signal(SIGSEGV, SIG_DFL);
    raise(SIGSEGV);
}

}  // namespace

cv::FaultHandlers::FaultHandlers() {
    struct sigaction sa {};
    sa.sa_handler = onFault;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_NODEFER;
    sigaction(SIGSEGV, &sa, &segv_);
    sigaction(SIGBUS, &sa, &bus_);
}

cv::FaultHandlers::~FaultHandlers() {
    sigaction(SIGSEGV, &segv_, nullptr);
    sigaction(SIGBUS, &bus_, nullptr);
}

bool cv::runFaultGuardedHere(void (*fn)(void*), void* data) {
    sigjmp_buf env;
    sigjmp_buf* outer = tGuard;
    bool completed = false;
    if (sigsetjmp(env, 1) == 0) {
        tGuard = &env;
        fn(data);
        completed = true;
    }
    tGuard = outer;
    return completed;
}

bool cv::runFaultGuarded(void (*fn)(void*), void* data) {
    const FaultHandlers handlers;
    return runFaultGuardedHere(fn, data);
}

void cv::raiseAccessViolation() {
    long page = sysconf(_SC_PAGESIZE);
    void* p = mmap(nullptr, size_t(page), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
        raise(SIGSEGV);
        return;
    }
    *static_cast<volatile int*>(p) = 0;
    munmap(p, size_t(page));
}
