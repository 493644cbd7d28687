// An allocation-failure injector for tests, loaded with LD_PRELOAD: it fails
// the k-th allocation of a run, once, the way a machine that has run out of
// memory would (NULL with ENOMEM, or MAP_FAILED for an anonymous mapping).
//
// Counted: malloc, calloc, realloc to a non-zero size, posix_memalign,
// aligned_alloc, memalign, valloc, and anonymous mmap (the value model maps
// buffers of 4 MiB and more itself). operator new is counted through malloc,
// which libstdc++ calls. Allocations glibc makes for itself through its own
// internal calls are not seen, nor are the mappings of malloc's own arenas.
//
// Environment:
//   CVFUNC_FAIL_ALLOC_AT=k       fail the k-th counted allocation (from 1)
//   CVFUNC_FAIL_ALLOC_COUNT=1    print "cvfunc-failalloc: N allocations" on
//                                stderr when the process ends
//   CVFUNC_FAIL_ALLOC_REPORT=F   write "allocations N" and "failed K" (0 when
//                                nothing was failed) to file F at the end
//   CVFUNC_FAIL_ALLOC_TRACE=F    append the stack of the failed allocation to F
//   CVFUNC_FAIL_ALLOC_ARM=when   when counting starts:
//       main   (default) as main is entered: what the C runtime and the C++
//              library allocate before main is not the program's to handle
//       start  as this library is initialised
//       call   when the program calls cvfunc_failalloc_arm(k) (an interpreter
//              such as Python, through ctypes: its own start-up is not swept)
//
// The real allocator is the next one in the search order (glibc's); while
// dlsym looks it up, what dlsym itself allocates comes from a small static
// arena that free ignores. The counter is atomic, so that of several threads
// exactly one gets the failure. It cannot stand in front of
// AddressSanitizer's allocator: the sanitizer's start-up calls malloc before
// its own dlsym works, and this library's lookup then crashes.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <execinfo.h>
#include <fcntl.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

typedef void* (*MallocFn)(size_t);
typedef void* (*CallocFn)(size_t, size_t);
typedef void* (*ReallocFn)(void*, size_t);
typedef void* (*MemalignFn)(size_t, size_t);
typedef void (*FreeFn)(void*);
static MallocFn realMalloc;
static CallocFn realCalloc;
static ReallocFn realRealloc;
static MemalignFn realMemalign;
static FreeFn realFree;

static _Alignas(64) char gArena[65536];
static atomic_size_t gArenaUsed;
static __thread int tResolving;

static int inArena(const void* p) { return (const char*)p >= gArena && (const char*)p < gArena + sizeof gArena; }

static void* arenaAlloc(size_t n) {
    n = (n + 63) & ~(size_t)63;
    const size_t at = atomic_fetch_add(&gArenaUsed, n);
    return at + n <= sizeof gArena ? gArena + at : NULL;
}

// False while dlsym is looking the allocator up (the caller uses the arena).
static int resolved(void) {
    if (realFree) return 1;
    if (tResolving) return 0;
    tResolving = 1;
    realMalloc = (MallocFn)dlsym(RTLD_NEXT, "malloc");
    realCalloc = (CallocFn)dlsym(RTLD_NEXT, "calloc");
    realRealloc = (ReallocFn)dlsym(RTLD_NEXT, "realloc");
    realMemalign = (MemalignFn)dlsym(RTLD_NEXT, "memalign");
    atomic_thread_fence(memory_order_seq_cst);
    realFree = (FreeFn)dlsym(RTLD_NEXT, "free");
    tResolving = 0;
    return 1;
}

static atomic_ulong gCount;       // allocations counted so far
static atomic_int gArmed;         // counting on
static unsigned long gFailAt;     // 0: count only
static atomic_ulong gFailed;      // the allocation failed, 0 when none was
static const char* gTracePath;
static const char* gReportPath;
static int gPrintCount;

// True when this allocation is the one to fail.
static int shouldFail(void) {
    if (!atomic_load_explicit(&gArmed, memory_order_relaxed)) return 0;
    const unsigned long k = atomic_fetch_add(&gCount, 1) + 1;
    if (k != gFailAt) return 0;
    atomic_store(&gFailed, k);
    if (gTracePath) {
        const int fd = open(gTracePath, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd >= 0) {
            void* frames[64];
            // backtrace itself does not allocate once libgcc is loaded (the constructor sees to it).
            backtrace_symbols_fd(frames, backtrace(frames, 64), fd);
            close(fd);
        }
    }
    errno = ENOMEM;
    return 1;
}

void* malloc(size_t n) {
    if (!resolved()) return arenaAlloc(n);
    return shouldFail() ? NULL : realMalloc(n);
}

void* calloc(size_t n, size_t size) {
    if (!resolved()) return size && n > sizeof gArena / size ? NULL : arenaAlloc(n * size);  // the arena is zeroed
    return shouldFail() ? NULL : realCalloc(n, size);
}

void free(void* p) {
    if (!p || inArena(p)) return;
    if (resolved()) realFree(p);
}

void* realloc(void* p, size_t n) {
    if (!resolved()) return NULL;
    // A shrink to nothing frees; it cannot fail.
    if (n && shouldFail()) return NULL;
    if (inArena(p)) {
        void* q = realMalloc(n);
        if (q) memcpy(q, p, n < (size_t)(gArena + sizeof gArena - (char*)p) ? n : (size_t)(gArena + sizeof gArena - (char*)p));
        return q;
    }
    return realRealloc(p, n);
}

void* memalign(size_t alignment, size_t n) {
    if (!resolved()) return alignment <= 64 ? arenaAlloc(n) : NULL;
    return shouldFail() ? NULL : realMemalign(alignment, n);
}

void* aligned_alloc(size_t alignment, size_t n) { return memalign(alignment, n); }

void* valloc(size_t n) { return memalign((size_t)sysconf(_SC_PAGESIZE), n); }

int posix_memalign(void** out, size_t alignment, size_t n) {
    if (alignment % sizeof(void*) || (alignment & (alignment - 1))) return EINVAL;
    if (shouldFail()) return ENOMEM;
    if (!resolved()) return ENOMEM;
    void* p = realMemalign(alignment, n);
    if (!p) return ENOMEM;
    *out = p;
    return 0;
}

// Only fresh anonymous memory is an allocation: file mappings and fixed
// placements are not, and go straight through.
void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) {
    if ((flags & MAP_ANONYMOUS) && !(flags & MAP_FIXED) && shouldFail()) {
        errno = ENOMEM;
        return MAP_FAILED;
    }
    return (void*)syscall(SYS_mmap, addr, length, prot, flags, fd, offset);
}

void* mmap64(void* addr, size_t length, int prot, int flags, int fd, off_t offset)
    __attribute__((alias("mmap")));

// For ARM=call: start counting now, failing the k-th allocation from here
// (0: count only); disarm stops and returns the count.
void cvfunc_failalloc_arm(unsigned long k) {
    atomic_store(&gArmed, 0);
    gFailAt = k;
    atomic_store(&gCount, 0);
    atomic_store(&gFailed, 0);
    atomic_store(&gArmed, 1);
}

unsigned long cvfunc_failalloc_disarm(void) {
    atomic_store(&gArmed, 0);
    return atomic_load(&gCount);
}

unsigned long cvfunc_failalloc_failed(void) { return atomic_load(&gFailed); }

typedef int (*MainFn)(int, char**, char**);
typedef int (*StartMainFn)(MainFn, int, char**, void (*)(void), void (*)(void), void (*)(void), void*);
static MainFn gRealMain;
static int gArmAtMain;

static int armedMain(int argc, char** argv, char** envp) {
    if (gArmAtMain) atomic_store(&gArmed, 1);
    return gRealMain(argc, argv, envp);
}

int __libc_start_main(MainFn main, int argc, char** argv, void (*init)(void), void (*fini)(void),
                      void (*rtldFini)(void), void* stackEnd) {
    StartMainFn real = (StartMainFn)dlsym(RTLD_NEXT, "__libc_start_main");
    gRealMain = main;
    return real(armedMain, argc, argv, init, fini, rtldFini, stackEnd);
}

__attribute__((constructor)) static void failAllocInit(void) {
    const char* at = getenv("CVFUNC_FAIL_ALLOC_AT");
    gFailAt = at ? strtoul(at, NULL, 10) : 0;
    const char* count = getenv("CVFUNC_FAIL_ALLOC_COUNT");
    gPrintCount = count && *count && strcmp(count, "0") != 0;
    gReportPath = getenv("CVFUNC_FAIL_ALLOC_REPORT");
    gTracePath = getenv("CVFUNC_FAIL_ALLOC_TRACE");
    if (gTracePath) {
        void* frames[2];
        backtrace(frames, 2);  // loads the unwinder now, not at the failure
    }
    const char* arm = getenv("CVFUNC_FAIL_ALLOC_ARM");
    if (!arm || !*arm || strcmp(arm, "main") == 0) gArmAtMain = 1;
    else if (strcmp(arm, "start") == 0) atomic_store(&gArmed, 1);
}

// Runs after the program's own static destructors (this library is
// initialised before them, so finalised after): the count covers its exit.
__attribute__((destructor)) static void failAllocReport(void) {
    const unsigned long n = atomic_load(&gCount), failed = atomic_load(&gFailed);
    atomic_store(&gArmed, 0);
    char line[96];
    if (gPrintCount) {
        const int len = snprintf(line, sizeof line, "cvfunc-failalloc: %lu allocations\n", n);
        if (write(STDERR_FILENO, line, (size_t)len) < 0) return;
    }
    if (gReportPath) {
        const int fd = open(gReportPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return;
        const int len = snprintf(line, sizeof line, "allocations %lu\nfailed %lu\n", n, failed);
        if (write(fd, line, (size_t)len) < 0) {
        }
        close(fd);
    }
}
