#include "engine/ZipAes.h"

// SHA-1's context is copied as it stands, which only the older interface allows.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "engine/ZipExceptions.h"
#include "engine/ZipObj.h"

std::string TAesField::Block() const
{
    const char bytes[11] = {char(AesExtraTag & 0xFF), char(AesExtraTag >> 8), 7, 0, char(version), 0, 'A', 'E',
                            char(strength), char(method & 0xFF), char(method >> 8)};
    return std::string(bytes, sizeof bytes);
}

std::optional<TAesField> FindAesField(const std::string& extra)
{
    const std::optional<std::string> block = ExtraBlock(extra, AesExtraTag);
    if (!block || block->size() < 7 || block->compare(2, 2, "AE") != 0)
        return std::nullopt;
    const auto* p = reinterpret_cast<const uint8_t*>(block->data());
    const TAesField field{Get16(p), p[4], Get16(p + 5)};
    if (field.strength < 1 || field.strength > 3 || (field.version != 1 && field.version != 2))
        return std::nullopt;
    return field;
}

namespace {

// PBKDF2-HMAC-SHA1. The HMAC's hashes of the padded password are made once
// and copied for every round, so that a round costs two SHA-1 blocks; the
// library's own derivation sets the HMAC up afresh each round, several
// times slower.
bool DeriveKeys(const std::string& password, const uint8_t* salt, size_t saltLength, int rounds, uint8_t* out,
                size_t n)
{
    uint8_t key[SHA_CBLOCK] = {};
    if (password.size() > SHA_CBLOCK)
        SHA1(reinterpret_cast<const uint8_t*>(password.data()), password.size(), key);
    else
        std::copy(password.begin(), password.end(), key);
    SHA_CTX inner, outer;
    uint8_t pad[SHA_CBLOCK];
    for (const auto& [ctx, with] : {std::pair{&inner, 0x36}, std::pair{&outer, 0x5C}}) {
        for (size_t k = 0; k < SHA_CBLOCK; ++k)
            pad[k] = uint8_t(key[k] ^ with);
        if (SHA1_Init(ctx) != 1 || SHA1_Update(ctx, pad, SHA_CBLOCK) != 1)
            return false;
    }
    // The HMAC of data into code.
    const auto hmac = [&](const uint8_t* data, size_t length, const uint8_t* more, size_t moreLength, uint8_t* code) {
        SHA_CTX c = inner;
        SHA1_Update(&c, data, length);
        SHA1_Update(&c, more, moreLength);
        SHA1_Final(code, &c);
        c = outer;
        SHA1_Update(&c, code, SHA_DIGEST_LENGTH);
        SHA1_Final(code, &c);
    };
    for (uint32_t block = 1; n > 0; ++block) {
        const uint8_t index[4] = {uint8_t(block >> 24), uint8_t(block >> 16), uint8_t(block >> 8), uint8_t(block)};
        uint8_t u[SHA_DIGEST_LENGTH], sum[SHA_DIGEST_LENGTH];
        hmac(salt, saltLength, index, 4, u);
        std::copy(std::begin(u), std::end(u), sum);
        for (int round = 1; round < rounds; ++round) {
            hmac(u, sizeof u, nullptr, 0, u);
            for (size_t k = 0; k < sizeof u; ++k)
                sum[k] ^= u[k];
        }
        const size_t take = std::min(n, sizeof sum);
        out = std::copy_n(sum, take, out);
        n -= take;
        OPENSSL_cleanse(u, sizeof u);
        OPENSSL_cleanse(sum, sizeof sum);
    }
    OPENSSL_cleanse(key, sizeof key);
    OPENSSL_cleanse(pad, sizeof pad);
    OPENSSL_cleanse(&inner, sizeof inner);
    OPENSSL_cleanse(&outer, sizeof outer);
    return true;
}

}  // namespace

// AES of the key's length in ECB mode makes the key stream from the counter
// blocks; HMAC-SHA1 runs over the encrypted bytes.
struct TAesCipher::State {
    EVP_CIPHER_CTX* aes = nullptr;
    EVP_MAC* macType = nullptr;
    EVP_MAC_CTX* mac = nullptr;
    uint64_t counter = 0;  // blocks used so far
    std::array<uint8_t, 16> stream{};
    size_t used = 16;  // bytes of stream used

    // The next counter into the low 8 bytes of a block of 16 whose upper 8
    // are zero.
    void NextCounter(uint8_t* block)
    {
        const uint64_t c = ++counter;
        for (int k = 0; k < 8; ++k)
            block[k] = uint8_t(c >> (8 * k));
    }

    ~State()
    {
        EVP_CIPHER_CTX_free(aes);
        EVP_MAC_CTX_free(mac);
        EVP_MAC_free(macType);
    }
};

TAesCipher::TAesCipher(uint8_t strength, const std::string& password, const uint8_t* salt)
    : state_(std::make_unique<State>())
{
    const size_t keyLength = 8 + 8 * size_t(strength), saltLength = TAesField{2, strength, 0}.SaltLength();
    std::vector<uint8_t> keys(2 * keyLength + 2);
    if (!DeriveKeys(password, salt, saltLength, 1000, keys.data(), keys.size()))
        throw EZipEngineError("the AES keys cannot be derived");
    const EVP_CIPHER* cipher = strength == 1 ? EVP_aes_128_ecb() : strength == 2 ? EVP_aes_192_ecb() : EVP_aes_256_ecb();
    State& s = *state_;
    s.aes = EVP_CIPHER_CTX_new();
    s.macType = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    s.mac = s.macType ? EVP_MAC_CTX_new(s.macType) : nullptr;
    char digest[] = "SHA1";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                 OSSL_PARAM_construct_end()};
    const bool ready = s.aes && s.mac && EVP_EncryptInit_ex(s.aes, cipher, nullptr, keys.data(), nullptr) == 1 &&
                       EVP_CIPHER_CTX_set_padding(s.aes, 0) == 1 &&
                       EVP_MAC_init(s.mac, keys.data() + keyLength, keyLength, params) == 1;
    verifier_ = {keys[2 * keyLength], keys[2 * keyLength + 1]};
    OPENSSL_cleanse(keys.data(), keys.size());
    if (!ready)
        throw EZipEngineError("the AES cipher cannot be set up");
}

TAesCipher::TAesCipher(const TAesCipher& other) : state_(std::make_unique<State>()), verifier_(other.verifier_)
{
    State& s = *state_;
    const State& o = *other.state_;
    s.aes = EVP_CIPHER_CTX_new();
    s.mac = EVP_MAC_CTX_dup(o.mac);
    if (!s.aes || !s.mac || EVP_CIPHER_CTX_copy(s.aes, o.aes) != 1)
        throw EZipEngineError("the AES cipher cannot be set up");
    s.counter = o.counter;
    s.stream = o.stream;
    s.used = o.used;
}

TAesCipher::~TAesCipher() = default;

void TAesCipher::Crypt(uint8_t* data, size_t n)
{
    State& s = *state_;
    size_t i = 0;
    // What is left of the last block of key stream.
    for (; i < n && s.used < 16; ++i)
        data[i] ^= s.stream[s.used++];
    // Whole blocks many at a time: the counters (little-endian, from 1),
    // encrypted at once, in pieces that stay in the first-level cache.
    constexpr size_t PieceBlocks = 256;
    if (size_t whole = (n - i) / 16; whole > 0) {
        std::array<uint8_t, PieceBlocks * 16> counters{}, blocks;
        while (whole > 0) {
            const size_t piece = std::min(whole, PieceBlocks);
            for (size_t b = 0; b < piece; ++b)
                s.NextCounter(counters.data() + b * 16);
            int made = 0;
            EVP_EncryptUpdate(s.aes, blocks.data(), &made, counters.data(), int(piece * 16));
            // Eight bytes a step: data and the key stream may not overlap,
            // but the compiler cannot know it.
            for (size_t k = 0; k < piece * 16; k += 8) {
                uint64_t d, key;
                std::memcpy(&d, data + i + k, 8);
                std::memcpy(&key, blocks.data() + k, 8);
                d ^= key;
                std::memcpy(data + i + k, &d, 8);
            }
            i += piece * 16;
            whole -= piece;
        }
    }
    if (i < n) {
        std::array<uint8_t, 16> counter{};
        s.NextCounter(counter.data());
        int made = 0;
        EVP_EncryptUpdate(s.aes, s.stream.data(), &made, counter.data(), 16);
        s.used = 0;
        for (; i < n; ++i)
            data[i] ^= s.stream[s.used++];
    }
}

void TAesCipher::Decrypt(uint8_t* data, size_t n)
{
    EVP_MAC_update(state_->mac, data, n);
    Crypt(data, n);
}

void TAesCipher::Encrypt(uint8_t* data, size_t n)
{
    Crypt(data, n);
    EVP_MAC_update(state_->mac, data, n);
}

std::array<uint8_t, 10> TAesCipher::Code()
{
    uint8_t full[EVP_MAX_MD_SIZE];
    size_t length = 0;
    EVP_MAC_final(state_->mac, full, &length, sizeof full);
    std::array<uint8_t, 10> code{};
    std::copy(full, full + 10, code.begin());
    return code;
}

std::string TAesCipher::NewSalt(uint8_t strength)
{
    std::string salt(TAesField{2, strength, 0}.SaltLength(), '\0');
    for (size_t got = 0; got < salt.size();) {
        const ssize_t n = getrandom(salt.data() + got, salt.size() - got, 0);
        if (n < 0 && errno != EINTR)
            throw EZipEngineError("no random bytes for the AES salt");
        got += size_t(std::max<ssize_t>(n, 0));
    }
    return salt;
}
