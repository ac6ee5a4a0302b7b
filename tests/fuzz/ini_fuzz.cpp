// libFuzzer target for INI reading and key setting: any file content must be
// handled without a fault, a set key must read back, and other keys must keep
// their values.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "screen/profile.h"

using starfell::ini::decodeText;
using starfell::ini::encodeText;
using starfell::ini::findValue;
using starfell::ini::setValue;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    starfell::ini::DecodedText decoded = decodeText(bytes);

    const auto heightBefore = findValue(decoded.text, "Screen", "Height");
    findValue(decoded.text, "ScreenMode", "ScrWidth");

    decoded.text = setValue(decoded.text, "Screen", "Width", "1920");
    if (findValue(decoded.text, "screen", "WIDTH") != std::string("1920")) std::abort();
    if (findValue(decoded.text, "Screen", "Height") != heightBefore) std::abort();

    // Whatever was decoded must encode and decode to the same text.
    if (decodeText(encodeText(decoded)).text != decoded.text) std::abort();
    return 0;
}
