#include "platform/QrEncoder.h"

#include <dlfcn.h>
#include <qrencode.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace linkmoot::qrcode {

namespace {

constexpr const char* kLibrary = "libqrencode.so.4";

struct Handle {
    void operator()(void* handle) const { dlclose(handle); }
};

}  // namespace

bool encode(const std::string& text, QrModules& code, std::string& error) {
    const std::unique_ptr<void, Handle> library(dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL));
    if (!library) {
        const char* why = dlerror();
        error = std::string(kLibrary) + " cannot be loaded (" + (why != nullptr ? why : "") + ")";
        return false;
    }
    auto encodeString = reinterpret_cast<decltype(&QRcode_encodeString)>(
        dlsym(library.get(), "QRcode_encodeString"));
    auto release = reinterpret_cast<decltype(&QRcode_free)>(dlsym(library.get(), "QRcode_free"));
    if (encodeString == nullptr || release == nullptr) {
        error = std::string(kLibrary) + " lacks QRcode_encodeString";
        return false;
    }
    errno = 0;
    QRcode* made = encodeString(text.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1);
    if (made == nullptr) {
        error = std::string("the text cannot be encoded: ") + std::strerror(errno);
        return false;
    }
    code.size = made->width;
    code.dark.assign(static_cast<std::size_t>(made->width) * static_cast<std::size_t>(made->width),
                     false);
    for (std::size_t i = 0; i < code.dark.size(); i++)
        code.dark[i] = (made->data[i] & 1) != 0;
    release(made);
    return true;
}

}  // namespace linkmoot::qrcode
