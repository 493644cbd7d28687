// The host's standard dialogs, for a host without windows.
//
// When the process has a terminal (standard input and standard error both
// are one) a dialog asks there: the question on standard error, the answer
// read as one line from standard input. Otherwise (a pipe, a batch job, a
// notebook kernel) it returns its default answer at once and never blocks.
// An empty answer, end of input or Ctrl-C also gives the default answer.
//
// Message boxes: the buttons word names the answers a script can get, in
// this order; the first is the default (what pressing Enter gives):
//   "Ok"                Ok
//   "OkCancel"          Ok, Cancel
//   "YesNo"             Yes, No
//   "YesNoCancel"       Yes, No, Cancel
//   "RetryCancel"       Retry, Cancel
//   "AbortRetryIgnore"  Abort, Retry, Ignore
// Words compare case-insensitively; any other word shows as "Ok". On the
// terminal an answer is a button's word, a unique start of one, or its
// number; anything else asks again. The kind ("info", "warning", "error",
// "question") heads the question. A terminal has no check box: the check
// box value is accepted and has no effect.
//
// Directory choosers: the answer is a directory path (relative paths taken
// from the current directory); the default answer is the initial directory.
#pragma once
#include "YString.h"

enum MessageBoxCheckBox { NoCheckBox = 0, DontAskAgainCheckBox = 1, DontShowMessageAgainCheckBox = 2 };

YString sp_ChooseDirectory(const char* initial);
YString sp_OpenMessageBox(const char* text, const char* title, const char* kind, const char* buttons,
                          MessageBoxCheckBox checkBox);
