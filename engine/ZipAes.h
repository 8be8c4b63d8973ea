// AES encryption of entries as WinZip defined it (method 99 with an extra
// block 0x9901): a salt and a password verifier before the data, AES in a
// counter mode with a little-endian counter, and 10 bytes of HMAC-SHA1 over
// the encrypted data after it. Keys come from PBKDF2-HMAC-SHA1 (1000
// rounds). The crypto itself is OpenSSL's libcrypto.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

inline constexpr uint16_t MethodAes = 99;
inline constexpr uint16_t AesExtraTag = 0x9901;

// The values of an AES extra block.
struct TAesField {
    uint16_t version = 2;  // 1: AE-1 (the CRC is kept), 2: AE-2 (CRC 0)
    uint8_t strength = 3;  // 1, 2, 3: AES-128, -192, -256
    uint16_t method = 0;   // the compression method under the encryption

    size_t SaltLength() const { return 4 + 4 * size_t(strength); }
    // The block as it goes into an extra field.
    std::string Block() const;
};

// The AES block of an extra field; none when there is none or it is malformed.
std::optional<TAesField> FindAesField(const std::string& extra);

// The keys of one entry and the running state of its encryption.
class TAesCipher {
public:
    // Derives the keys from password and salt (SaltLength bytes).
    TAesCipher(uint8_t strength, const std::string& password, const uint8_t* salt);
    ~TAesCipher();
    // A copy in the same state, with keys of its own: one thread derives
    // the keys (the slow part) and another goes on from the copy.
    TAesCipher(const TAesCipher& other);
    TAesCipher& operator=(const TAesCipher&) = delete;

    // The two bytes stored after the salt.
    std::array<uint8_t, 2> Verifier() const { return verifier_; }
    // Decrypts n bytes in place, authenticating them first.
    void Decrypt(uint8_t* data, size_t n);
    // Encrypts n bytes in place and authenticates them.
    void Encrypt(uint8_t* data, size_t n);
    // The authentication code of the encrypted bytes so far.
    std::array<uint8_t, 10> Code();

    // A new random salt for the strength (from the system's random source).
    static std::string NewSalt(uint8_t strength);

private:
    void Crypt(uint8_t* data, size_t n);

    struct State;
    std::unique_ptr<State> state_;
    std::array<uint8_t, 2> verifier_{};
};
