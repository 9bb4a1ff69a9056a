#pragma once
// The library's growable, zero-terminated 8-bit text. It keeps no length: every
// operation measures the text. Its capacity is always a multiple of 16, at least
// 16, and grows by the exact rules that each operation documents.
#include <cstdarg>
#include <cstdint>

namespace toolbox {

class String {
public:
    /// Capacity 16, empty text.
    String();
    /// Capacity ((length + 17) / 16) * 16.
    explicit String(const char* text);
    /// A new buffer of the same capacity holding the same bytes.
    String(const String& other);
    String& operator=(const String& other);
    ~String();

    /// Replaces the text; a new buffer only when capacity < length + 1.
    void assign(const char* text);
    /// Appends a text; grows to ((c + a + 17) / 16) * 16 when capacity < c + a + 1.
    void append(const char* text);
    /// Appends one character; grows to ((c + 18) / 16) * 16 when capacity < c + 2.
    void append(char character);
    /// Appends a signed decimal; grows to ((c + 28) / 16) * 16 when capacity < c + 12.
    void appendInt(int32_t value);
    void appendUnsigned(uint32_t value);
    /// Replaces the text by the printf-style formatting; returns its length.
    /// The buffer doubles (C -> 2C + 16) until the result is shorter than C - 1;
    /// at 2^29 bytes it gives up: empty text, capacity 32, EIllegalArgument raised.
    int format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    int formatList(const char* format, va_list arguments);
    /// Removes trailing blanks, tabs, LF, CR and FF (not VT).
    void trimRight();

    const char* c_str() const { return text; }
    int32_t getCapacity() const { return capacity; }
    /// Measures the text (strlen).
    int32_t length() const;

private:
    void growKeeping(int32_t newCapacity, int32_t keptLength);

    char* text;
    int32_t capacity;
};

/// The readable text of a platform error code (an errno value on Linux):
/// "Error n in facility f", then ": " and the system's text when it has one.
String systemErrorText(uint32_t code);

}  // namespace toolbox
