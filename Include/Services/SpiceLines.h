// The netlist line reader: physical lines of a netlist text into the logical
// lines a simulator reads. The script functions that read netlists, from a
// string or from a file, all go through it, so that they agree on what a line is.
#pragma once
#include <string_view>
#include <vector>

#include "YString.h"

// The logical lines of `text`, in order. The rules are those of ngspice's
// reader, so that a deck means the same here as in the simulator:
//  - physical lines end at "\n"; a "\r" before it is dropped;
//  - a line whose first non-blank byte is '*' is a comment and is dropped;
//  - an end-of-line comment starts at the first ';' anywhere in the line, or
//    at a '$' that begins the line or follows a space or a tab ("1$x" is a
//    value, "1 $x" a value and a comment); quotes give no protection, as in
//    the simulator;
//  - leading and trailing blanks (space, tab, CR, FF, VT) go; a line left
//    empty is dropped and does not interrupt a continued line;
//  - a line whose first non-blank byte is '+' continues the logical line
//    before it: its text after the '+' is appended after one space. A '+'
//    line with nothing before it starts a logical line of its own.
// The title line of a deck gets no special treatment: it is a line like any
// other, since a text handed to a script function need not be a whole deck.
// Case is kept.
std::vector<YString> sp_ParseSpiceLines(std::string_view text);
