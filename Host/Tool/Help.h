// Help on script functions for the tool: `cvfunc --help NAME`, and the
// `help` / `help NAME` commands of the interactive and piped sessions, all
// rendered from the function reference.
#pragma once
#include <functional>
#include <string>

#include "Session.h"

namespace cvtool {

// `cvfunc --help NAME`: the entry on stdout and 0, or a usage error naming
// the nearest registered functions on stderr and 2.
int helpCommand(const std::string& name);

// When `line` is a help command (`help` or `help NAME`), prints the help and
// returns true; a line such as `help = 3` or `help(x)` is left to the language.
bool replHelp(const std::string& line);

// Runs a script read from standard input; its help lines print help instead
// of being evaluated, and the statements between them run as before.
bool runWithHelp(cv::Session& session, const std::string& text,
                 const std::function<void(const cv::ValuePtr&, const cv::Session::Statement&)>& print, std::string& error,
                 const std::function<void()>& afterStatement);

}  // namespace cvtool
