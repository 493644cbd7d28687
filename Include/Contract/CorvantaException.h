// The module's exception classes. Both keep their message in a fixed buffer
// (a 32-bit code followed by 1000 bytes), so copying or throwing one never
// allocates and `what()` stays valid as long as the object.
#pragma once
#include <cstdint>
#include <cstring>
#include <exception>
#include <string_view>

class CorvantaException : public std::exception {
public:
    static constexpr int32_t DefaultCode = 8;
    static constexpr size_t MessageCapacity = 1000;   // bytes, terminating NUL included

    explicit CorvantaException(const char* text) : CorvantaException(DefaultCode, text) {}
    explicit CorvantaException(std::string_view text) : CorvantaException(DefaultCode, text) {}
    CorvantaException(int code, const char* text)
        : CorvantaException(code, text ? std::string_view(text) : std::string_view()) {}
    CorvantaException(int code, std::string_view text) : code_(code) {
        // Longer messages are cut: the buffer always holds a terminated text.
        const size_t n = text.size() < MessageCapacity - 1 ? text.size() : MessageCapacity - 1;
        if (n > 0) std::memcpy(message_, text.data(), n);
        message_[n] = '\0';
    }

    int32_t code() const noexcept { return code_; }
    const char* what() const noexcept override { return message_; }

private:
    int32_t code_;
    char message_[MessageCapacity];
};

// Thrown where a late-bound host function cannot be resolved or called.
class DynFuncException : public CorvantaException {
public:
    static constexpr int32_t DefaultCode = 9;

    explicit DynFuncException(const char* text) : CorvantaException(DefaultCode, text) {}
    explicit DynFuncException(std::string_view text) : CorvantaException(DefaultCode, text) {}
    DynFuncException(int code, const char* text) : CorvantaException(code, text) {}
    DynFuncException(int code, std::string_view text) : CorvantaException(code, text) {}
};
