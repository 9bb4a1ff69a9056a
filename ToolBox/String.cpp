#include "ToolBox/String.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "ToolBox/Exception.h"
#include "ToolBox/Memory.h"
#include "ToolBox/posix/Os.h"

namespace toolbox {

namespace {

constexpr int32_t kMinimumCapacity = 16;
// format gives up once its buffer reaches this size.
constexpr int64_t kFormatLimit = int64_t{1} << 29;

// The smallest multiple of 16 strictly greater than needed + 1 (the capacity
// rule), refusing sizes a signed 32-bit capacity cannot hold.
int32_t roundedCapacity(int64_t needed) {
    int64_t capacity = ((needed + 17) / 16) * 16;
    if (capacity > INT32_MAX)
        raiseOutOfMemory();
    return static_cast<int32_t>(capacity);
}

int64_t measure(const char* text) {
    return text == nullptr ? 0 : static_cast<int64_t>(std::strlen(text));
}

char* newBuffer(int32_t capacity) {
    char* buffer = static_cast<char*>(allocate(static_cast<std::size_t>(capacity)));
    buffer[0] = '\0';
    return buffer;
}

// Writes the decimal digits of value (and a "-" when negative) at target,
// with a terminator; returns the number of characters.
int writeDecimal(char* target, uint32_t magnitude, bool negative) {
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    int length = 0;
    if (negative)
        target[length++] = '-';
    while (count > 0)
        target[length++] = digits[--count];
    target[length] = '\0';
    return length;
}

}  // namespace

String::String() : text(newBuffer(kMinimumCapacity)), capacity(kMinimumCapacity) {}

String::String(const char* source) : text(nullptr), capacity(0) {
    int64_t length = measure(source);
    int32_t size = roundedCapacity(length);
    text = newBuffer(size);
    capacity = size;
    if (length > 0)
        std::memcpy(text, source, static_cast<std::size_t>(length) + 1);
}

String::String(const String& other) : text(newBuffer(other.capacity)), capacity(other.capacity) {
    std::memcpy(text, other.text, std::strlen(other.text) + 1);
}

String& String::operator=(const String& other) {
    if (this == &other)
        return *this;
    char* copy = newBuffer(other.capacity);
    std::memcpy(copy, other.text, std::strlen(other.text) + 1);
    release(text);
    text = copy;
    capacity = other.capacity;
    return *this;
}

String::~String() {
    release(text);
}

int32_t String::length() const {
    return static_cast<int32_t>(std::strlen(text));
}

void String::growKeeping(int32_t newCapacity, int32_t keptLength) {
    // realloc keeps the old buffer when it fails, so the string stays intact;
    // it often grows in place, which the tight capacity rule makes worthwhile.
    text = static_cast<char*>(reallocate(text, static_cast<std::size_t>(newCapacity)));
    text[keptLength] = '\0';
    capacity = newCapacity;
}

void String::assign(const char* source) {
    int64_t length = measure(source);
    if (capacity < length + 1) {
        char* fresh = newBuffer(roundedCapacity(length));
        release(text);
        text = fresh;
        capacity = roundedCapacity(length);
    }
    if (length > 0) {
        std::memmove(text, source, static_cast<std::size_t>(length) + 1);
    } else {
        text[0] = '\0';
    }
}

void String::append(const char* source) {
    int64_t current = std::strlen(text);
    int64_t added = measure(source);
    if (added == 0)
        return;
    if (capacity < current + added + 1) {
        // The source may lie in this very buffer, which growing may move.
        bool inside = source >= text && source < text + capacity;
        std::ptrdiff_t offset = inside ? source - text : 0;
        growKeeping(roundedCapacity(current + added), static_cast<int32_t>(current));
        if (inside)
            source = text + offset;
    }
    std::memmove(text + current, source, static_cast<std::size_t>(added));
    text[current + added] = '\0';
}

void String::append(char character) {
    int64_t current = std::strlen(text);
    if (capacity < current + 2) {
        growKeeping(roundedCapacity(current + 1), static_cast<int32_t>(current));
    }
    text[current] = character;
    text[current + 1] = '\0';
}

void String::appendInt(int32_t value) {
    int64_t current = std::strlen(text);
    if (capacity < current + 12) {
        growKeeping(roundedCapacity(current + 11), static_cast<int32_t>(current));
    }
    // Negating in unsigned arithmetic keeps the most negative value exact.
    uint32_t magnitude =
        value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    writeDecimal(text + current, magnitude, value < 0);
}

void String::appendUnsigned(uint32_t value) {
    int64_t current = std::strlen(text);
    if (capacity < current + 12) {
        growKeeping(roundedCapacity(current + 11), static_cast<int32_t>(current));
    }
    writeDecimal(text + current, value, false);
}

int String::format(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int length;
    try {
        length = formatList(format, arguments);
    } catch (...) {
        va_end(arguments);
        throw;
    }
    va_end(arguments);
    return length;
}

namespace {

// The capacity that format reaches for a result of the given length: from the
// current capacity it doubles (C -> 2C + 16) until the result is shorter than
// C - 1; kFormatLimit or more means it gives up.
int64_t formatCapacity(int64_t capacity, int result) {
    while (capacity < kFormatLimit && result >= capacity - 1)
        capacity = 2 * capacity + 16;
    return capacity;
}

}  // namespace

int String::formatList(const char* format, va_list arguments) {
    // The length is learnt once, in a scratch buffer that holds the whole text
    // when it is short; the doublings it would not fit are skipped, not
    // formatted, and the capacity reached is the same. glibc answers a
    // negative result only for an error that no buffer cures.
    char scratch[512];
    va_list pass;
    va_copy(pass, arguments);
    int result = std::vsnprintf(scratch, sizeof scratch, format, pass);
    va_end(pass);
    while (result >= 0) {
        int64_t target = formatCapacity(capacity, result);
        if (target >= kFormatLimit)
            break;
        if (result < static_cast<int>(sizeof scratch)) {
            if (target != capacity) {
                char* larger = newBuffer(static_cast<int32_t>(target));
                release(text);
                text = larger;
                capacity = static_cast<int32_t>(target);
            }
            std::memcpy(text, scratch, static_cast<std::size_t>(result) + 1);
            return result;
        }
        // A long text goes into a new buffer: an argument may point into this one.
        char* fresh = newBuffer(static_cast<int32_t>(target));
        va_copy(pass, arguments);
        int written = std::vsnprintf(fresh, static_cast<std::size_t>(target), format, pass);
        va_end(pass);
        if (written >= 0 && written < target - 1) {
            release(text);
            text = fresh;
            capacity = static_cast<int32_t>(target);
            return written;
        }
        release(fresh);
        result = written;
    }
    char* empty = newBuffer(32);
    release(text);
    text = empty;
    capacity = 32;
    throw new EIllegalArgument("Formatted string requires too much space (>512MB)", __FILE__, 681);
}

void String::trimRight() {
    int64_t end = std::strlen(text);
    while (end > 0) {
        char last = text[end - 1];
        if (last != ' ' && last != '\t' && last != '\n' && last != '\r' && last != '\f')
            break;
        --end;
    }
    text[end] = '\0';
}

String systemErrorText(uint32_t code) {
    String result("Error ");
    result.appendUnsigned(code & 65535u);
    result.append(" in facility ");
    result.appendUnsigned((code >> 16) & 2047u);
    char message[256];
    if (os::systemErrorMessage(code, message, sizeof message) && message[0] != '\0') {
        result.append(": ");
        result.append(message);
        result.trimRight();
    }
    return result;
}

}  // namespace toolbox
