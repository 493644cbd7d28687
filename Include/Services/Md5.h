// MD5 digests through OpenSSL's libcrypto, as lower-case hexadecimal text of
// 32 digits. Files are read in binary and streamed, so their size does not
// matter; only regular files are read (cv::openRegularFile).
#pragma once
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

class MD5_Impl {
public:
    MD5_Impl();
    ~MD5_Impl();
    MD5_Impl(const MD5_Impl&) = delete;
    MD5_Impl& operator=(const MD5_Impl&) = delete;
    // Adds the bytes of the file; false (nothing added) when it cannot be
    // opened as a regular file or a read fails part way (then the digest is
    // of no use and the caller should drop it).
    bool addFile(const char* path);
    bool addFile(FILE* f);
    void addString(std::string_view bytes);
    // The digest of everything added; the object is then spent.
    std::string get();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The digest of a file's bytes, "" when it cannot be read; of a string's bytes.
std::string sp_GetMD5(FILE* file);
std::string sp_GetMD5(std::string_view text);
// The digest of the file at `path`; "" when it cannot be read.
std::string sp_GetMD5File(const char* path);
