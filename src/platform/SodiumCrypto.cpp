#include "platform/SodiumCrypto.h"

#include <sodium.h>

#include <cstring>

#include "platform/SharedLibrary.h"

namespace linkmoot {

namespace {

static_assert(Crypto::kMacBytes == crypto_auth_hmacsha256_BYTES);
static_assert(Crypto::kMacKeyBytes == crypto_auth_hmacsha256_KEYBYTES);
static_assert(Crypto::kSaltBytes == crypto_pwhash_SALTBYTES);
static_assert(Crypto::kHashBytes >= crypto_generichash_BYTES_MIN &&
              Crypto::kHashBytes <= crypto_generichash_BYTES_MAX);

#define LINKMOOT_SODIUM_FUNCTIONS(F) \
    F(sodium_init)                   \
    F(randombytes_buf)               \
    F(randombytes_uniform)           \
    F(sodium_malloc)                 \
    F(sodium_free)                   \
    F(sodium_memzero)                \
    F(sodium_memcmp)                 \
    F(sodium_bin2hex)                \
    F(sodium_hex2bin)                \
    F(crypto_auth_hmacsha256)        \
    F(crypto_auth_hmacsha256_init)   \
    F(crypto_auth_hmacsha256_update) \
    F(crypto_auth_hmacsha256_final)  \
    F(crypto_pwhash)                 \
    F(crypto_generichash)
LINKMOOT_LIBRARY_TABLE(SodiumFunctions, LINKMOOT_SODIUM_FUNCTIONS)

constexpr const char* kNeededFor = "the shared secret and the web page";

/// The library, loaded and initialised at the first use.
struct LoadedSodium {
    LibraryTable<SodiumFunctions> library{LINKMOOT_SODIUM_SONAME, kNeededFor};
    const SodiumFunctions* ready = nullptr;
    std::string failure = LINKMOOT_SODIUM_SONAME " cannot be loaded";

    LoadedSodium() {
        const SodiumFunctions* table = library.functions();
        if (table == nullptr)
            return;
        // Fails only without a source of randomness.
        if (table->sodium_init() < 0) {
            failure = "no source of randomness for " LINKMOOT_SODIUM_SONAME;
            SharedLibrary::reportFailure(LINKMOOT_SODIUM_SONAME, "no source of randomness",
                                         kNeededFor);
            return;
        }
        ready = table;
    }
};

const LoadedSodium& sodium() {
    static const LoadedSodium loaded;
    return loaded;
}

/// Only reached after available() said yes.
const SodiumFunctions& lib() {
    return *sodium().ready;
}

class SodiumCrypto : public Crypto {
public:
    bool available(std::string& why) override {
        if (sodium().ready == nullptr)
            why = sodium().failure;
        return sodium().ready != nullptr;
    }

    void randomBytes(unsigned char* out, std::size_t length) override {
        lib().randombytes_buf(out, length);
    }
    uint32_t randomBelow(uint32_t bound) override { return lib().randombytes_uniform(bound); }

    void* allocateGuarded(std::size_t size) override { return lib().sodium_malloc(size); }
    void freeGuarded(void* memory) override { lib().sodium_free(memory); }
    void wipe(void* memory, std::size_t size) override { lib().sodium_memzero(memory, size); }
    bool equal(const void* a, const void* b, std::size_t size) override {
        return lib().sodium_memcmp(a, b, size) == 0;
    }

    std::size_t macStateBytes() override { return sizeof(crypto_auth_hmacsha256_state); }
    void macKey(void* state, const unsigned char* key, std::size_t keyLength) override {
        lib().crypto_auth_hmacsha256_init(static_cast<crypto_auth_hmacsha256_state*>(state), key,
                                          keyLength);
    }
    void mac(const void* keyed, std::string_view message,
             unsigned char (&out)[kMacBytes]) override {
        crypto_auth_hmacsha256_state state;
        std::memcpy(&state, keyed, sizeof state);
        lib().crypto_auth_hmacsha256_update(
            &state, reinterpret_cast<const unsigned char*>(message.data()), message.size());
        lib().crypto_auth_hmacsha256_final(&state, out);
        lib().sodium_memzero(&state, sizeof state);
    }
    void macOnce(const unsigned char (&key)[kMacKeyBytes], std::string_view message,
                 unsigned char (&out)[kMacBytes]) override {
        lib().crypto_auth_hmacsha256(out, reinterpret_cast<const unsigned char*>(message.data()),
                                     message.size(), key);
    }

    bool deriveKey(unsigned char* key, std::size_t keyLength, std::string_view secret,
                   const unsigned char* salt) override {
        return lib().crypto_pwhash(key, keyLength, secret.data(), secret.size(), salt,
                                   crypto_pwhash_OPSLIMIT_INTERACTIVE,
                                   crypto_pwhash_MEMLIMIT_INTERACTIVE,
                                   crypto_pwhash_ALG_ARGON2ID13) == 0;
    }
    void hash(std::string_view data, unsigned char (&out)[kHashBytes]) override {
        lib().crypto_generichash(out, sizeof out,
                                 reinterpret_cast<const unsigned char*>(data.data()), data.size(),
                                 nullptr, 0);
    }

    std::string toHex(const unsigned char* bytes, std::size_t length) override {
        std::string hex(length * 2 + 1, '\0');
        lib().sodium_bin2hex(hex.data(), hex.size(), bytes, length);
        hex.pop_back();
        return hex;
    }
    bool fromHex(std::string_view hex, unsigned char* out, std::size_t length) override {
        std::size_t decoded = 0;
        return hex.size() == 2 * length &&
               lib().sodium_hex2bin(out, length, hex.data(), hex.size(), nullptr, &decoded,
                                    nullptr) == 0 &&
               decoded == length;
    }
};

}  // namespace

Crypto& sodiumCrypto() {
    static SodiumCrypto crypto;
    return crypto;
}

}  // namespace linkmoot
