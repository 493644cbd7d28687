// Whether this build runs under AddressSanitizer (the sanitizer test build
// and the fuzz targets). Code whose limits stand for a cost (bytes, seconds)
// scales them by it: the same work costs several times more under it.
#pragma once

#if defined(__SANITIZE_ADDRESS__)  // GCC
#define CV_ADDRESS_SANITIZER 1
#elif defined(__has_feature)  // clang
#if __has_feature(address_sanitizer)
#define CV_ADDRESS_SANITIZER 1
#endif
#endif

namespace cv {
#ifdef CV_ADDRESS_SANITIZER
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif
}  // namespace cv
