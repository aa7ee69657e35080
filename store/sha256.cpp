#include "store/sha256.h"

#include <fcntl.h>
#include <new>
#include <openssl/evp.h>
#include <unistd.h>

#include "store/unique_fd.h"

Sha256::Sha256() : context_(EVP_MD_CTX_new(), EVP_MD_CTX_free) {
    if (!context_)
        throw std::bad_alloc();
    restart();
}

Sha256::~Sha256() = default;

void Sha256::restart() {
    EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr);
}

void Sha256::update(std::string_view bytes) {
    EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size());
}

std::string Sha256::digest() const {
    // Finished on a copy, so that more bytes may still come.
    const std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> copy(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    unsigned char bytes[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!copy || EVP_MD_CTX_copy_ex(copy.get(), context_.get()) != 1 ||
        EVP_DigestFinal_ex(copy.get(), bytes, &length) != 1)
        return {};
    return std::string(reinterpret_cast<const char*>(bytes), length);
}

std::optional<std::string> file_sha256(const std::string& path) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid())
        return std::nullopt;
    Sha256 sha;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got == 0)
            return sha.digest();
        if (got < 0)
            return std::nullopt;
        sha.update(std::string_view(buffer, static_cast<std::size_t>(got)));
    }
}
