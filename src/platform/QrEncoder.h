#pragma once
// QR codes from libqrencode, loaded (dlopen) only while a code is made and
// dropped right after: a program that never shows a code never maps it.
#include <string>

#include "PageCode.h"

namespace linkmoot::qrcode {

/// Encodes the text (8-bit mode, error correction level M). False with the
/// reason in `error` when the library is missing or the text does not fit.
bool encode(const std::string& text, QrModules& code, std::string& error);

}  // namespace linkmoot::qrcode
