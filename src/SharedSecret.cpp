#include "SharedSecret.h"

#include <sodium.h>

#include <cstring>

namespace linkmoot {

namespace {

constexpr unsigned char kSalt[crypto_pwhash_SALTBYTES + 1] = "linkmoot-proto-2";
static_assert(sizeof kSalt - 1 == crypto_pwhash_SALTBYTES, "the salt is exactly 16 bytes");
static_assert(ProtocolKey::kBytes == crypto_auth_hmacsha256_KEYBYTES);
static_assert(ProtocolKey::kMacHexLength == 2 * crypto_auth_hmacsha256_BYTES);

bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

bool isLowerHex(std::string_view text) {
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

}  // namespace

std::size_t secretCharacters(std::string_view secret) {
    std::size_t count = 0;
    for (char c : secret) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            count++;
    }
    return count;
}

std::string generateSecret() {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string secret;
    if (!sodiumReady())
        return secret;
    for (int i = 0; i < 24; i++) {
        secret += kAlphabet[randombytes_uniform(sizeof kAlphabet - 1)];
    }
    return secret;
}

// --- SecureBytes

SecureBytes::SecureBytes(std::size_t size)
    : bytes(sodiumReady() ? static_cast<unsigned char*>(sodium_malloc(size)) : nullptr),
      length(bytes != nullptr ? size : 0) {}

SecureBytes::~SecureBytes() {
    if (bytes != nullptr)
        sodium_free(bytes);  // wipes before it frees
}

// --- ProtocolKey

ProtocolKey::ProtocolKey() : key(kBytes), keyedState(sizeof(crypto_auth_hmacsha256_state)) {}

ProtocolKey::~ProtocolKey() = default;

bool ProtocolKey::load(const unsigned char* bytes) {
    if (!key.valid() || !keyedState.valid())
        return false;
    std::memcpy(key.data(), bytes, kBytes);
    crypto_auth_hmacsha256_init(reinterpret_cast<crypto_auth_hmacsha256_state*>(keyedState.data()),
                                key.data(), kBytes);
    return true;
}

std::unique_ptr<ProtocolKey> ProtocolKey::fromBytes(const unsigned char (&bytes)[kBytes]) {
    std::unique_ptr<ProtocolKey> result(new ProtocolKey());
    if (!result->load(bytes))
        return nullptr;
    return result;
}

std::unique_ptr<ProtocolKey> ProtocolKey::derive(std::string_view secret, std::string& error) {
    SecureBytes derived(kBytes);
    if (!derived.valid()) {
        error = "Cannot derive the key of the shared secret: no secure memory";
        return nullptr;
    }
    if (crypto_pwhash(derived.data(), kBytes, secret.data(), secret.size(), kSalt,
                      crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE,
                      crypto_pwhash_ALG_ARGON2ID13) != 0) {
        error = "Cannot derive the key of the shared secret: out of memory";
        return nullptr;
    }
    std::unique_ptr<ProtocolKey> result(new ProtocolKey());
    if (!result->load(derived.data())) {
        error = "Cannot derive the key of the shared secret: no secure memory";
        return nullptr;
    }
    return result;
}

void ProtocolKey::mac(std::string_view message, unsigned char (&out)[32]) const {
    crypto_auth_hmacsha256_state state;
    std::memcpy(&state, keyedState.data(), sizeof state);
    crypto_auth_hmacsha256_update(&state, reinterpret_cast<const unsigned char*>(message.data()),
                                  message.size());
    crypto_auth_hmacsha256_final(&state, out);
    sodium_memzero(&state, sizeof state);
}

std::string ProtocolKey::macHex(std::string_view message) const {
    unsigned char digest[crypto_auth_hmacsha256_BYTES];
    mac(message, digest);
    char hex[kMacHexLength + 1];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    return std::string(hex, kMacHexLength);
}

bool ProtocolKey::verify(std::string_view message, std::string_view hex) const {
    if (hex.size() != kMacHexLength || !isLowerHex(hex))
        return false;
    unsigned char claimed[crypto_auth_hmacsha256_BYTES];
    std::size_t decoded = 0;
    if (sodium_hex2bin(claimed, sizeof claimed, hex.data(), hex.size(), nullptr, &decoded,
                       nullptr) != 0 ||
        decoded != sizeof claimed) {
        return false;
    }
    unsigned char digest[crypto_auth_hmacsha256_BYTES];
    mac(message, digest);
    return sodium_memcmp(digest, claimed, sizeof digest) == 0;
}

std::string ProtocolKey::keyHex() const {
    char hex[2 * kBytes + 1];
    sodium_bin2hex(hex, sizeof hex, key.data(), kBytes);
    return std::string(hex, 2 * kBytes);
}

// --- KeyStore

KeyStore::KeyStore() : fingerprint(crypto_generichash_BYTES) {}

KeyStore::~KeyStore() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    if (worker.joinable())
        worker.join();
}

void KeyStore::setSecret(std::string_view secret) {
    unsigned char hash[crypto_generichash_BYTES];
    if (!secret.empty()) {
        if (!fingerprint.valid() || !sodiumReady()) {
            // Without secure memory nothing can be derived; say so, fail closed.
            secretSet = true;
            current.reset();
            failure = "Cannot derive the key of the shared secret: no secure memory";
            return;
        }
        crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char*>(secret.data()),
                           secret.size(), nullptr, 0);
        const bool same = secretSet && sodium_memcmp(hash, fingerprint.data(), sizeof hash) == 0;
        // A failed derivation of the same secret is tried again.
        if (same && failure.empty()) {
            sodium_memzero(hash, sizeof hash);
            return;
        }
    } else if (!secretSet) {
        return;
    }

    generation++;
    current.reset();
    failure.clear();
    secretSet = !secret.empty();
    std::unique_ptr<SecureBytes> copy;
    if (secretSet) {
        std::memcpy(fingerprint.data(), hash, sizeof hash);
        sodium_memzero(hash, sizeof hash);
        copy = std::make_unique<SecureBytes>(secret.size() + 1);
        if (!copy->valid()) {
            failure = "Cannot derive the key of the shared secret: no secure memory";
            return;
        }
        std::memcpy(copy->data(), secret.data(), secret.size());
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        request = std::move(copy);  // null: a derivation under way is of no use any more
        requestGeneration = generation;
        resultReady = false;
        result.reset();
    }
    if (secretSet) {
        if (!worker.joinable())
            worker = std::thread([this] { work(); });
        wake.notify_all();
    }
}

bool KeyStore::update() {
    std::unique_ptr<ProtocolKey> taken;
    std::string takenError;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!resultReady || resultGeneration != generation)
            return false;
        resultReady = false;
        taken = std::move(result);
        takenError = std::move(resultError);
    }
    current = std::move(taken);
    failure = current ? std::string() : takenError;
    return true;
}

void KeyStore::work() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return stopping || request != nullptr; });
        if (stopping)
            return;
        std::unique_ptr<SecureBytes> secret = std::move(request);
        const uint64_t forGeneration = requestGeneration;
        lock.unlock();
        std::string error;
        std::unique_ptr<ProtocolKey> derived = ProtocolKey::derive(
            std::string_view(reinterpret_cast<const char*>(secret->data()), secret->size() - 1),
            error);
        secret.reset();
        lock.lock();
        // A newer secret set meanwhile makes this one of no use.
        if (forGeneration == requestGeneration) {
            result = std::move(derived);
            resultError = std::move(error);
            resultGeneration = forGeneration;
            resultReady = true;
        }
    }
}

}  // namespace linkmoot
