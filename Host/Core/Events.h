// Host events: the module subscribes callbacks with AutoFunc objects; the
// host fires "PostCli" after every top-level command and "ExitCli" and "Exit"
// when it ends.
#pragma once
#include <string>
#include <string_view>
#include <vector>

class AutoFunc;

namespace cv {

class Events {
public:
    static Events& global();
    void subscribe(const AutoFunc* f);
    void unsubscribe(const AutoFunc* f);
    // Runs every callback of the event in subscription order; a callback that
    // throws is skipped so that the others still run. Never throws.
    void fire(std::string_view event, void* data = nullptr) noexcept;

private:
    struct Route {
        std::string event;  // as the first subscriber wrote it; matched ignoring case
        std::vector<const AutoFunc*> callbacks;  // in subscription order
    };
    Route* route(std::string_view event) noexcept;

    std::vector<Route> routes_;
};

}  // namespace cv
