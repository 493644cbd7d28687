#include "Events.h"

#include <algorithm>
#include <strings.h>

#include "FuncContract.h"
#include "FunctionTable.h"

namespace cv {

Events& Events::global() {
    static Events* events = new Events;
    return *events;
}

void Events::subscribe(const AutoFunc* f) { subs_.push_back(f); }

void Events::unsubscribe(const AutoFunc* f) { subs_.erase(std::remove(subs_.begin(), subs_.end(), f), subs_.end()); }

namespace {

// The first letter first: events fire after every call, and most callbacks
// are for another event.
bool handles(const AutoFunc* f, std::string_view event) noexcept {
    const char* name = f->event();
    if (event.empty() || (name[0] | 0x20) != (event[0] | 0x20)) return false;
    return event.size() == strlen(name) && strncasecmp(name, event.data(), event.size()) == 0;
}

}  // namespace

// The callbacks are picked before any runs, since one may unsubscribe; they
// are picked into room on the stack, because the events fire after every
// command and at exit, when memory may have run out and nothing could report
// a failure to fire. A module subscribes a handful of callbacks to an event;
// past the room, the rest are collected on the heap, and should even that
// fail they are left out of this firing rather than end the process.
void Events::fire(std::string_view event, void* data) noexcept {
    constexpr size_t kRoom = 64;
    const AutoFunc* picked[kRoom];
    size_t n = 0;
    std::vector<const AutoFunc*> more;
    for (const AutoFunc* f : subs_) {
        if (!handles(f, event)) continue;
        if (n < kRoom) {
            picked[n++] = f;
            continue;
        }
        try {
            more.push_back(f);
        } catch (...) {
        }
    }
    auto run = [data](const AutoFunc* f) noexcept {
        try {
            f->callback()(data);
        } catch (...) {
        }
    };
    for (size_t i = 0; i < n; ++i) run(picked[i]);
    for (const AutoFunc* f : more) run(f);
}

}  // namespace cv

AutoFunc::AutoFunc(const char* event, Callback callback, const char* callbackName)
    : event_(event), callback_(callback), callbackName_(callbackName) {
    // A static object of the module, like its function rows (FunctionTable.cpp).
    try {
        cv::Events::global().subscribe(this);
    } catch (const std::bad_alloc&) {
        cv::noteFailedRegistration();
    }
}

AutoFunc::~AutoFunc() { cv::Events::global().unsubscribe(this); }
