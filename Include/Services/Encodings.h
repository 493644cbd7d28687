// Text encodings of the host: HTML colours, Base64, code pages and unique
// identifiers.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// ---------------------------------------------------------------- HTML colours
//
// A colour as one integer 0xRRGGBB: the six hexadecimal digits of "#rrggbb"
// read as one number, so "#ff0000" is 16711680 and "#000080" is 128.
//
// Reading accepts, ignoring case and surrounding blanks:
//  - "#rrggbb";
//  - "#rgb", each digit doubled ("#f80" is "#ff8800");
//  - the CSS named colours ("red", "rebeccapurple", both spellings of grey).
// Anything else (no '#', other digit counts, "transparent") gives -1.
int32_t sp_ConvertHTMLcolourToRGB(std::string_view text);

// "#rrggbb" in lower case for 0 ... 0xFFFFFF; "" for any other number, which
// is no colour.
std::string sp_ConvertRGBcolourToHTML(int64_t rgb);

// ---------------------------------------------------------------- Base64
//
// The standard alphabet (A-Z a-z 0-9 + /) with '=' padding, written on one
// line, through OpenSSL's EVP encoder and decoder.
//
// Decoding accepts line breaks and blanks anywhere (as in a file) and refuses,
// with no result, anything else outside the alphabet, a '=' before the end,
// and a text whose length, blanks aside, is not a multiple of four.
namespace cv {
std::string encodeBase64(std::string_view bytes);
std::optional<std::string> decodeBase64(std::string_view text);

// Numbers travel as their 8 bytes in little-endian order: a real as its IEEE
// 754 double, an integer as its two's-complement 64 bits. A real reads back
// only from exactly 8 bytes.
std::string encodeBase64Real(double value);
std::string encodeBase64Integer(int64_t value);
std::optional<double> decodeBase64Real(std::string_view text);
}  // namespace cv

// ---------------------------------------------------------------- code pages
//
// UTF-8 text converted to the Windows code page `codePage` through iconv:
// 1250 ... 1258, 437, 850, 932, 936, 949, 950 and the other "CPnnn" pages
// iconv knows; 20127 is ASCII, 28591 ... 28606 ISO-8859-1 ... 16, 20866 KOI8-R,
// 21866 KOI8-U, 51932 EUC-JP, 54936 GB18030, 65001 UTF-8; code page 0 (the
// system's default) is UTF-8 on this platform.
//
// A character the code page cannot hold becomes '?', as does each byte of
// the input that is not valid UTF-8. No result for a code page iconv does not
// know, and for one whose text would contain NUL bytes (UTF-16 and UTF-32),
// since a script string ends at the first NUL.
std::optional<std::string> sp_ConvertUTF8_to_MBCS(std::string_view text, int codePage);

// The other way: a block of text in code page `codePage` (the numbers above;
// 0, the system's default, is UTF-8 here) converted to UTF-8 in `out`. Each
// byte the page does not define becomes '?'. False, with `out` empty, for a
// code page iconv does not know.
bool sp_ConvertMBCSBlock_to_UTF8(const char* data, size_t size, std::string& out, int codePage = 0);

// ---------------------------------------------------------------- identifiers
//
// A new random (version 4) UUID from libuuid, in its 36-character lower-case
// form "xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx".
std::string sp_GetGUID();
