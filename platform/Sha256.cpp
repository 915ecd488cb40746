#include "platform/Sha256.h"

#include "text/Strtools.h"

#include <openssl/evp.h>

struct TSha256::TContext {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> Digest { EVP_MD_CTX_new(), &EVP_MD_CTX_free };
};

TSha256::TSha256()
    : FContext(std::make_unique<TContext>())
{
    FUsable = FContext->Digest && EVP_DigestInit_ex(FContext->Digest.get(), EVP_sha256(), nullptr) == 1;
}

TSha256::~TSha256() = default;

void TSha256::Add(const void* data, size_t length)
{
    if (FUsable && length > 0)
        EVP_DigestUpdate(FContext->Digest.get(), data, length);
}

std::string TSha256::HexDigest()
{
    if (!FUsable)
        return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    EVP_DigestFinal_ex(FContext->Digest.get(), digest, &length);
    FUsable = false;
    std::string hex;
    for (unsigned i = 0; i < length; ++i)
        hex += FormatText("%02x", digest[i]);
    return hex;
}
