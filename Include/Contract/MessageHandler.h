// The host's message sink. A failing script function sends exactly one error
// through it; the host decides where messages go (the tool prints them, the
// function table turns the error of a failed call into the call's error).
#pragma once
#include <string>

#include "PrintfArg.h"
#include "YRef.h"

class MessageHandler : public YRefCounted {
public:
    enum Severity { Info, Warning, Error };

    void error(const char* format, const PrintfArg& a = PrintfArg()) { send(Error, format, {a}); }
    void error(const char* format, const PrintfArg& a1, const PrintfArg& a2, const PrintfArg& a3 = PrintfArg(),
               const PrintfArg& a4 = PrintfArg()) {
        send(Error, format, {a1, a2, a3, a4});
    }
    void warning(const char* format, const PrintfArg& a1 = PrintfArg(), const PrintfArg& a2 = PrintfArg(),
                 const PrintfArg& a3 = PrintfArg(), const PrintfArg& a4 = PrintfArg()) {
        send(Warning, format, {a1, a2, a3, a4});
    }
    void info(const char* format, const PrintfArg& a1 = PrintfArg(), const PrintfArg& a2 = PrintfArg(),
              const PrintfArg& a3 = PrintfArg(), const PrintfArg& a4 = PrintfArg()) {
        send(Info, format, {a1, a2, a3, a4});
    }

    // Receives every formatted message.
    virtual void report(Severity severity, const std::string& text) = 0;

private:
    void send(Severity s, const char* format, std::initializer_list<PrintfArg> args) {
        report(s, cv::formatPrintf(format, args));
    }
};
