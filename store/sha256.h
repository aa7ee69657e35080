#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct evp_md_ctx_st;

/// A SHA-256 digest computed piece by piece, as bytes arrive.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    /// Starts again from no bytes.
    void restart();
    void update(std::string_view bytes);
    /// The 32 bytes of the digest of everything given since the start.
    std::string digest() const;

private:
    std::unique_ptr<evp_md_ctx_st, void (*)(evp_md_ctx_st*)> context_;
};

/// The SHA-256 digest of the file at `path`, read in pieces; nothing when it cannot be read.
std::optional<std::string> file_sha256(const std::string& path);
