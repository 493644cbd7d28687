// MD5 digests through OpenSSL's EVP interface (see Md5.h).
#include "Md5.h"

#include <memory>
#include <new>
#include <openssl/evp.h>

#include "FileUtil.h"

struct MD5_Impl::State {
    EVP_MD_CTX* ctx = nullptr;
    ~State() { EVP_MD_CTX_free(ctx); }
};

MD5_Impl::MD5_Impl() : state_(std::make_unique<State>()) {
    state_->ctx = EVP_MD_CTX_new();
    if (!state_->ctx || EVP_DigestInit_ex(state_->ctx, EVP_md5(), nullptr) != 1) throw std::bad_alloc();
}

MD5_Impl::~MD5_Impl() = default;

bool MD5_Impl::addFile(FILE* f) {
    if (!f) return false;
    // Read in pieces the C library's buffer serves well. A zeroed megabyte
    // per file cost more than digesting a small file: a stamp of thousands of
    // files spent its time clearing buffers.
    constexpr size_t kPiece = size_t(1) << 16;
    const std::unique_ptr<unsigned char[]> buf(new unsigned char[kPiece]);
    for (;;) {
        const size_t n = std::fread(buf.get(), 1, kPiece, f);
        if (n) EVP_DigestUpdate(state_->ctx, buf.get(), n);
        if (n < kPiece) return !std::ferror(f);
    }
}

bool MD5_Impl::addFile(const char* path) {
    FILE* f = cv::openRegularFile(path);
    if (!f) return false;
    const bool ok = addFile(f);
    std::fclose(f);
    return ok;
}

void MD5_Impl::addString(std::string_view bytes) { EVP_DigestUpdate(state_->ctx, bytes.data(), bytes.size()); }

std::string MD5_Impl::get() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_DigestFinal_ex(state_->ctx, digest, &n);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int k = 0; k < n; ++k) {
        out += hex[digest[k] >> 4];
        out += hex[digest[k] & 15];
    }
    return out;
}

std::string sp_GetMD5(FILE* file) {
    MD5_Impl md5;
    return md5.addFile(file) ? md5.get() : std::string();
}

std::string sp_GetMD5(std::string_view text) {
    MD5_Impl md5;
    md5.addString(text);
    return md5.get();
}

std::string sp_GetMD5File(const char* path) {
    MD5_Impl md5;
    return md5.addFile(path) ? md5.get() : std::string();
}
