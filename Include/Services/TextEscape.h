// The host's two escapings of text, each with its inverse, so that a string a
// script escapes can always be turned back into exactly the bytes it came from.
//
// Backslash escaping (sp_EscapeString / sp_UnescapeString), for text that has
// to live inside a quoted string or a one-line record:
//   \  becomes \\        "  becomes \"        '  becomes \'
//   newline becomes \n   tab becomes \t       carriage return becomes \r
//   every other byte below 0x20, and 0x7F, becomes \xHH (two upper-case hex digits)
//   a space becomes \x20 when spaces are to be replaced, else it stays
//   every other byte, 0x80-0xFF included, stays as it is (UTF-8 passes through).
// The escaped text holds no control byte and no bare quote, and a backslash
// only as the start of one of the sequences above. Text without control bytes
// other than newline and tab, escaped without replacing spaces, is also a
// valid body of a quoted string of the expression language, which reads back
// the same text.
// Unescaping reads \\ \" \' \n \t \r and \xHH (exactly two hex digits, either
// case); any other backslash, a lone one at the end included, is kept as it
// is, so unescaping never fails and never drops a byte.
//
// Percent-encoding (sp_EscapeStringEncode / sp_EscapeStringDecode), for text
// that goes into a URL, a file name or a field that allows only plain
// characters; it is the percent-encoding of RFC 3986:
//   the unreserved bytes A-Z a-z 0-9 - . _ ~ stay as they are;
//   a space stays a space, or becomes %20 when spaces are to be replaced;
//   every other byte becomes %HH (two upper-case hex digits); a multi-byte
//   UTF-8 character becomes one %HH per byte.
// Decoding turns each %HH (two hex digits, either case) into its byte and
// keeps everything else as it is, '+' and a '%' without two hex digits
// included.
//
// For every string s and either spaces option:
//   sp_UnescapeString(sp_EscapeString(s, o)) == s
//   sp_EscapeStringDecode(sp_EscapeStringEncode(s, o)) == s
// All four take any bytes and run in time linear in the length of the text.
#pragma once
#include <string>
#include <string_view>

#include "YString.h"

YString sp_EscapeString(std::string_view text, bool replaceSpaces);
YString sp_UnescapeString(std::string_view text);

YString sp_EscapeStringEncode(std::string_view text, bool replaceSpaces);
YString sp_EscapeStringDecode(std::string_view text);

// One RFC 4180 field: quoted (quotes doubled) when it holds a comma, a quote,
// CR or LF; as it is otherwise.
namespace cv {
std::string csvField(std::string_view text);
}  // namespace cv
