#include "Events.h"

#include <algorithm>
#include <strings.h>

#include "FuncContract.h"

namespace cv {

Events& Events::global() {
    static Events* events = new Events;
    return *events;
}

void Events::subscribe(const AutoFunc* f) { subs_.push_back(f); }

void Events::unsubscribe(const AutoFunc* f) { subs_.erase(std::remove(subs_.begin(), subs_.end(), f), subs_.end()); }

std::vector<const AutoFunc*> Events::subscribers(std::string_view event) const {
    std::vector<const AutoFunc*> out;
    for (const AutoFunc* f : subs_)
        if (event.size() == strlen(f->event()) && strncasecmp(f->event(), event.data(), event.size()) == 0)
            out.push_back(f);
    return out;
}

void Events::fire(std::string_view event, void* data) {
    for (const AutoFunc* f : subscribers(event)) {
        try {
            f->callback()(data);
        } catch (...) {
        }
    }
}

}  // namespace cv

AutoFunc::AutoFunc(const char* event, Callback callback, const char* callbackName)
    : event_(event), callback_(callback), callbackName_(callbackName) {
    cv::Events::global().subscribe(this);
}

AutoFunc::~AutoFunc() { cv::Events::global().unsubscribe(this); }
