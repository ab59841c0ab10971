// The hex scanner against the C library's own "%<width>x", where the C
// standard leaves the result no room: "0x" with no digit after it differs
// between C libraries and is left out.
#include "driver/cmdline.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbData, size_t cbData)
{
    if (cbData < 1 || cbData > 24)
        return 0;
    unsigned nWidth = pbData[0] % 6; // 0: no limit
    std::string text(reinterpret_cast<const char*>(pbData + 1), cbData - 1);
    if (text.find('\0') != std::string::npos)
        return 0;
    for (size_t x = text.find_first_of("xX"); x != std::string::npos;
         x = text.find_first_of("xX", x + 1))
        if (x + 1 >= text.size() || !isxdigit(static_cast<unsigned char>(text[x + 1])))
            return 0;
    // Overflow is undefined for sscanf; keep to eight digits.
    size_t nDigits = 0;
    for (char ch : text)
        nDigits += isxdigit(static_cast<unsigned char>(ch)) ? 1 : 0;
    if (nDigits > 8)
        return 0;

    std::string format = nWidth ? "%" + std::to_string(nWidth) + "x" : "%x";
    unsigned int uExpected = 0;
    int nMatched = sscanf(text.c_str(), format.c_str(), &uExpected);
    uint32_t dwActual = 0;
    bool blOk = ScanHex(text.c_str(), nWidth, &dwActual);
    if (blOk != (nMatched == 1) || (blOk && dwActual != uExpected))
        abort();
    return 0;
}
