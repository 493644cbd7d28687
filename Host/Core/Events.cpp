#include "Events.h"

#include <algorithm>

#include "FuncContract.h"
#include "FunctionTable.h"

namespace cv {

Events& Events::global() {
    static Events* events = new Events;
    return *events;
}

namespace {

// ASCII letters folded, as strncasecmp does in the C locale, without its
// cost for a word of a few letters.
bool sameIgnoringCase(std::string_view a, std::string_view b) noexcept {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c; };
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

}  // namespace

// The callbacks are kept by event, so that a firing finds its own in one
// comparison per event: events fire after every call, and most callbacks are
// for another event.
Events::Route* Events::route(std::string_view event) noexcept {
    for (Route& r : routes_)  // the host fires events as they were subscribed: the exact text first
        if (r.event == event) return &r;
    for (Route& r : routes_)
        if (sameIgnoringCase(r.event, event)) return &r;
    return nullptr;
}

void Events::subscribe(const AutoFunc* f) {
    const std::string_view event = f->event();
    if (Route* r = route(event)) r->callbacks.push_back(f);
    else routes_.push_back(Route{std::string(event), {f}});
}

void Events::unsubscribe(const AutoFunc* f) {
    if (Route* r = route(f->event())) std::erase(r->callbacks, f);
}

// The callbacks are picked before any runs, since one may unsubscribe; they
// are picked into room on the stack, because the events fire after every
// command and at exit, when memory may have run out and nothing could report
// a failure to fire. A module subscribes a handful of callbacks to an event;
// past the room, the rest are collected on the heap, and should even that
// fail they are left out of this firing rather than end the process.
void Events::fire(std::string_view event, void* data) noexcept {
    const Route* r = route(event);
    if (!r) return;
    constexpr size_t kRoom = 64;
    const AutoFunc* picked[kRoom];
    const size_t n = std::min(kRoom, r->callbacks.size());
    std::copy_n(r->callbacks.begin(), n, picked);
    std::vector<const AutoFunc*> more;
    try {
        more.assign(r->callbacks.begin() + ptrdiff_t(n), r->callbacks.end());
    } catch (...) {
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
