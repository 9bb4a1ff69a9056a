#include "SharedSecret.h"

#include <cstring>
#include <mutex>

#include "Worker.h"

namespace linkmoot {

namespace {

constexpr unsigned char kSalt[Crypto::kSaltBytes + 1] = "linkmoot-proto-2";
static_assert(sizeof kSalt - 1 == Crypto::kSaltBytes, "the salt is exactly 16 bytes");
static_assert(ProtocolKey::kBytes == Crypto::kMacKeyBytes);

constexpr const char* kNoSecureMemory =
    "Cannot derive the key of the shared secret: no secure memory";

bool isLowerHex(std::string_view text) {
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

unsigned char* guarded(Crypto& crypto, std::size_t size) {
    std::string why;
    return crypto.available(why) ? static_cast<unsigned char*>(crypto.allocateGuarded(size))
                                 : nullptr;
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

std::string generateSecret(Crypto& crypto) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string secret;
    std::string why;
    if (!crypto.available(why))
        return secret;
    for (int i = 0; i < 24; i++) {
        secret += kAlphabet[crypto.randomBelow(sizeof kAlphabet - 1)];
    }
    return secret;
}

// --- SecureBytes

SecureBytes::SecureBytes(Crypto& crypto, std::size_t size)
    : crypto(crypto), bytes(guarded(crypto, size)), length(bytes != nullptr ? size : 0) {}

SecureBytes::~SecureBytes() {
    if (bytes != nullptr)
        crypto.freeGuarded(bytes);  // wipes before it frees
}

// --- ProtocolKey

ProtocolKey::ProtocolKey(Crypto& crypto)
    : crypto(crypto),
      key(crypto, kBytes),
      keyedState(crypto, key.valid() ? crypto.macStateBytes() : 0) {}

ProtocolKey::~ProtocolKey() = default;

bool ProtocolKey::load(const unsigned char* bytes) {
    if (!key.valid() || !keyedState.valid())
        return false;
    std::memcpy(key.data(), bytes, kBytes);
    crypto.macKey(keyedState.data(), key.data(), kBytes);
    return true;
}

std::unique_ptr<ProtocolKey> ProtocolKey::fromBytes(Crypto& crypto,
                                                    const unsigned char (&bytes)[kBytes]) {
    std::unique_ptr<ProtocolKey> result(new ProtocolKey(crypto));
    if (!result->load(bytes))
        return nullptr;
    return result;
}

std::unique_ptr<ProtocolKey> ProtocolKey::derive(Crypto& crypto, std::string_view secret,
                                                 std::string& error) {
    std::string why;
    if (!crypto.available(why)) {
        error = "Cannot derive the key of the shared secret: " + why;
        return nullptr;
    }
    SecureBytes derived(crypto, kBytes);
    if (!derived.valid()) {
        error = kNoSecureMemory;
        return nullptr;
    }
    if (!crypto.deriveKey(derived.data(), kBytes, secret, kSalt)) {
        error = "Cannot derive the key of the shared secret: out of memory";
        return nullptr;
    }
    std::unique_ptr<ProtocolKey> result(new ProtocolKey(crypto));
    if (!result->load(derived.data())) {
        error = kNoSecureMemory;
        return nullptr;
    }
    return result;
}

std::string ProtocolKey::macHex(std::string_view message) const {
    unsigned char digest[Crypto::kMacBytes];
    crypto.mac(keyedState.data(), message, digest);
    return crypto.toHex(digest, sizeof digest);
}

bool ProtocolKey::verify(std::string_view message, std::string_view hex) const {
    if (hex.size() != kMacHexLength || !isLowerHex(hex))
        return false;
    unsigned char claimed[Crypto::kMacBytes];
    if (!crypto.fromHex(hex, claimed, sizeof claimed))
        return false;
    unsigned char digest[Crypto::kMacBytes];
    crypto.mac(keyedState.data(), message, digest);
    return crypto.equal(digest, claimed, sizeof digest);
}

std::string ProtocolKey::keyHex() const {
    return crypto.toHex(key.data(), kBytes);
}

// --- KeyStore

/// The hand-over between the store on the loop and the jobs on the worker.
/// Shared, so a job that outlives its store (it runs at exit) finds it still.
struct KeyStore::Derivation {
    std::mutex mutex;
    bool cancelled = false;
    std::unique_ptr<SecureBytes> request;  // the secret to derive next
    uint64_t requestGeneration = 0;
    std::unique_ptr<ProtocolKey> result;
    std::string resultError;
    uint64_t resultGeneration = 0;
    bool resultReady = false;

    /// One job: derives the latest request, if any is left.
    void run(Crypto& crypto) {
        std::unique_ptr<SecureBytes> secret;
        uint64_t forGeneration = 0;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (cancelled || request == nullptr)
                return;  // an earlier job took it, or it is of no use any more
            secret = std::move(request);
            forGeneration = requestGeneration;
        }
        std::string error;
        std::unique_ptr<ProtocolKey> derived = ProtocolKey::derive(
            crypto,
            std::string_view(reinterpret_cast<const char*>(secret->data()), secret->size() - 1),
            error);
        secret.reset();
        std::lock_guard<std::mutex> lock(mutex);
        // A newer secret set meanwhile makes this one of no use.
        if (!cancelled && forGeneration == requestGeneration) {
            result = std::move(derived);
            resultError = std::move(error);
            resultGeneration = forGeneration;
            resultReady = true;
        }
    }
};

KeyStore::KeyStore(Crypto* crypto, Worker* worker)
    : crypto(crypto), worker(worker), shared(std::make_shared<Derivation>()) {}

KeyStore::~KeyStore() {
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->cancelled = true;
    shared->request.reset();
}

void KeyStore::restart(bool withSecret) {
    generation++;
    current.reset();
    failure.clear();
    secretSet = withSecret;
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->request.reset();  // a derivation under way is of no use any more
    shared->requestGeneration = generation;
    shared->resultReady = false;
    shared->result.reset();
}

void KeyStore::fail(const std::string& why) {
    restart(true);
    failure = why;
}

bool KeyStore::alreadySet(std::string_view secret) {
    unsigned char hash[Crypto::kHashBytes];
    crypto->hash(secret, hash);
    // A failed derivation of the same secret is tried again.
    const bool same =
        secretSet && failure.empty() && crypto->equal(hash, fingerprint->data(), sizeof hash);
    if (!same)
        std::memcpy(fingerprint->data(), hash, sizeof hash);
    crypto->wipe(hash, sizeof hash);
    return same;
}

void KeyStore::setSecret(std::string_view secret) {
    if (secret.empty()) {
        if (secretSet)
            restart(false);
        return;
    }
    std::string why = "no cryptography library";
    if (crypto == nullptr || worker == nullptr || !crypto->available(why)) {
        // Nothing can be derived: say so, and fail closed.
        fail("Cannot derive the key of the shared secret: " + why);
        return;
    }
    if (!fingerprint)
        fingerprint = std::make_unique<SecureBytes>(*crypto, Crypto::kHashBytes);
    if (!fingerprint->valid()) {
        fail(kNoSecureMemory);
        return;
    }
    if (alreadySet(secret))
        return;
    restart(true);
    auto copy = std::make_unique<SecureBytes>(*crypto, secret.size() + 1);
    if (!copy->valid()) {
        failure = kNoSecureMemory;
        return;
    }
    std::memcpy(copy->data(), secret.data(), secret.size());
    {
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->request = std::move(copy);
    }
    worker->post([derivation = shared, &library = *crypto] { derivation->run(library); });
}

bool KeyStore::update() {
    // Only a derivation under way can finish: an idle tick takes no lock.
    if (!pending())
        return false;
    std::unique_ptr<ProtocolKey> taken;
    std::string takenError;
    {
        std::lock_guard<std::mutex> lock(shared->mutex);
        if (!shared->resultReady || shared->resultGeneration != generation)
            return false;
        shared->resultReady = false;
        taken = std::move(shared->result);
        takenError = std::move(shared->resultError);
    }
    current = std::move(taken);
    failure = current ? std::string() : takenError;
    return true;
}

}  // namespace linkmoot
