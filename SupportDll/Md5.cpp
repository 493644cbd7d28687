// MD5 digests through OpenSSL's EVP interface (see Md5.h).
#include "Md5.h"

#include <new>
#include <openssl/evp.h>
#include <vector>

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
    std::vector<unsigned char> buf(1 << 20);
    for (;;) {
        const size_t n = std::fread(buf.data(), 1, buf.size(), f);
        if (n) EVP_DigestUpdate(state_->ctx, buf.data(), n);
        if (n < buf.size()) return !std::ferror(f);
    }
}

bool MD5_Impl::addFile(const char* path) {
    FILE* f = sp_OpenRegularFile(path);
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
