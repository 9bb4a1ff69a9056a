#pragma once
// The shared secret of the voting protocol: the key derived from it, the macs
// made with that key, and a store that derives keys away from the loop (the
// derivation takes a noticeable fraction of a second and 64 MiB).
//
// Key material lives only in guarded memory that is locked against swapping,
// kept out of core dumps and wiped when freed. The cryptography comes from
// Crypto.h, so nothing here loads a library until a secret is set.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "Crypto.h"

namespace linkmoot {

class Worker;

/// Shorter secrets are refused by the dialogs and prompts.
inline constexpr std::size_t kMinSecretCharacters = 16;

/// The number of characters of a UTF-8 text (bytes that do not continue one).
std::size_t secretCharacters(std::string_view secret);
/// A fresh random secret of 24 letters and digits (about 143 bits); empty when
/// the cryptography library cannot be had.
std::string generateSecret(Crypto& crypto);

/// Bytes in guarded, locked, undumpable memory, wiped when freed.
class SecureBytes {
public:
    SecureBytes(Crypto& crypto, std::size_t size);
    ~SecureBytes();
    SecureBytes(const SecureBytes&) = delete;
    SecureBytes& operator=(const SecureBytes&) = delete;

    /// False when the memory could not be had; then data() is null.
    bool valid() const { return bytes != nullptr; }
    unsigned char* data() { return bytes; }
    const unsigned char* data() const { return bytes; }
    std::size_t size() const { return length; }

private:
    Crypto& crypto;
    unsigned char* bytes;
    std::size_t length;
};

/// The 32-byte protocol key and the HMAC-SHA-256 macs made with it.
class ProtocolKey {
public:
    static constexpr std::size_t kBytes = 32;
    static constexpr std::size_t kMacHexLength = 2 * Crypto::kMacBytes;

    /// Argon2id with the interactive limits over the secret, salted with the
    /// 16 bytes "linkmoot-proto-2". Null with the reason in `error` when
    /// memory runs out or the library cannot be had. Blocks for the
    /// derivation: call it off the loop.
    static std::unique_ptr<ProtocolKey> derive(Crypto& crypto, std::string_view secret,
                                               std::string& error);
    /// A key from its raw bytes (tests and fuzz targets, which must not pay
    /// for a derivation each); null when memory or the library cannot be had.
    static std::unique_ptr<ProtocolKey> fromBytes(Crypto& crypto,
                                                  const unsigned char (&bytes)[kBytes]);
    ~ProtocolKey();
    ProtocolKey(const ProtocolKey&) = delete;
    ProtocolKey& operator=(const ProtocolKey&) = delete;

    /// The 64 lowercase hex digits of the mac of `message`.
    std::string macHex(std::string_view message) const;
    /// True when `hex` is exactly the 64 lowercase hex digits of the mac of
    /// `message`; compared in constant time.
    bool verify(std::string_view message, std::string_view hex) const;
    /// The key's bytes, for the worked example in the documentation's test.
    std::string keyHex() const;

private:
    explicit ProtocolKey(Crypto& crypto);
    bool load(const unsigned char* bytes);

    Crypto& crypto;
    SecureBytes key;
    SecureBytes keyedState;  // the HMAC state after the key, so a mac skips two blocks
};

/// Keeps the key of the configured secret, deriving it on a worker so the loop
/// never waits. One store serves every user of the secret (the server and the
/// local client), so a secret is derived once.
class KeyStore {
public:
    /// Keys are derived with `crypto` on `worker`, both outliving the store;
    /// without either, every secret fails (fails closed) and says why.
    KeyStore(Crypto* crypto, Worker* worker);
    /// A derivation under way finishes on the worker into nothing.
    ~KeyStore();
    KeyStore(const KeyStore&) = delete;
    KeyStore& operator=(const KeyStore&) = delete;

    /// Sets the secret; empty switches it off. The same secret again changes
    /// nothing; another one drops the key at once and derives the new one.
    void setSecret(std::string_view secret);
    /// Takes a finished derivation over (on the loop, once a tick). True when
    /// key() or error() changed.
    bool update();

    /// A secret is set (its key may still be under way).
    bool configured() const { return secretSet; }
    /// The key of the secret; null while off, under way, or failed.
    const ProtocolKey* key() const { return current.get(); }
    /// A secret is set and its key is not there yet.
    bool pending() const { return secretSet && !current && failure.empty(); }
    /// Why the last derivation failed; empty otherwise.
    const std::string& error() const { return failure; }

private:
    struct Derivation;  // what the worker's jobs share with the store

    /// A new state: whatever is under way or finished is of no use any more.
    void restart(bool withSecret);
    /// The fingerprint of `secret` is the one set, and its key did not fail.
    bool alreadySet(std::string_view secret);
    void fail(const std::string& why);

    Crypto* crypto;
    Worker* worker;
    bool secretSet = false;
    std::unique_ptr<SecureBytes>
        fingerprint;  // a hash of the secret set, to notice the same one again
    std::unique_ptr<ProtocolKey> current;
    std::string failure;
    uint64_t generation = 0;  // of the secret set last; the loop's own copy
    std::shared_ptr<Derivation> shared;
};

}  // namespace linkmoot
