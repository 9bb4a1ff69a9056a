#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace linkmoot {

/// The cryptography the shared secret and the web page use, from a well-kept
/// library that the platform loads when it is first needed (so a machine that
/// uses neither never maps it). Rules:
/// - available() is the only call that may load the library; it answers the
///   same for the life of the process. Every other call may be made only after
///   available() said true, from any thread.
/// - Nothing here waits, except deriveKey(), which takes a noticeable fraction
///   of a second and 64 MiB: call it off the loop.
/// - Comparisons and encodings take a time that does not depend on the bytes.
class Crypto {
public:
    static constexpr std::size_t kMacBytes = 32;
    static constexpr std::size_t kMacKeyBytes = 32;
    static constexpr std::size_t kHashBytes = 32;
    static constexpr std::size_t kSaltBytes = 16;

    virtual ~Crypto() = default;

    /// Loads the library on first use; false with the reason when it cannot.
    virtual bool available(std::string& why) = 0;

    /// Bytes from the system's source of randomness.
    virtual void randomBytes(unsigned char* out, std::size_t length) = 0;
    /// A uniformly random number below `bound` (at least 1).
    virtual uint32_t randomBelow(uint32_t bound) = 0;

    /// Memory locked against swapping, kept out of core dumps, between guard
    /// pages; null when none can be had. freeGuarded() wipes it first.
    virtual void* allocateGuarded(std::size_t size) = 0;
    virtual void freeGuarded(void* memory) = 0;
    /// Overwrites with zeros in a way the compiler cannot drop.
    virtual void wipe(void* memory, std::size_t size) = 0;
    virtual bool equal(const void* a, const void* b, std::size_t size) = 0;

    /// HMAC-SHA-256. The keyed state holds the key's work, so a mac from it
    /// skips two blocks; it is macStateBytes() long and left unchanged by mac().
    virtual std::size_t macStateBytes() = 0;
    virtual void macKey(void* state, const unsigned char* key, std::size_t keyLength) = 0;
    virtual void mac(const void* state, std::string_view message,
                     unsigned char (&out)[kMacBytes]) = 0;
    /// The same without a kept state.
    virtual void macOnce(const unsigned char (&key)[kMacKeyBytes], std::string_view message,
                         unsigned char (&out)[kMacBytes]) = 0;

    /// Argon2id (version 0x13) with the library's interactive limits (2
    /// passes, 64 MiB) over `secret`, salted with kSaltBytes bytes; false when
    /// memory runs out.
    virtual bool deriveKey(unsigned char* key, std::size_t keyLength, std::string_view secret,
                           const unsigned char* salt) = 0;
    /// BLAKE2b with a 32-byte result.
    virtual void hash(std::string_view data, unsigned char (&out)[kHashBytes]) = 0;

    /// Lowercase hex digits of the bytes.
    virtual std::string toHex(const unsigned char* bytes, std::size_t length) = 0;
    /// Decodes exactly `length` bytes from hex; false when `hex` is not that.
    virtual bool fromHex(std::string_view hex, unsigned char* out, std::size_t length) = 0;
};

}  // namespace linkmoot
