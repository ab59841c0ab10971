// ScanHex against the C library's own "%<width>x" on the host, for inputs
// where the C standard leaves nothing to the library.
#include "driver/cmdline.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

TEST(ScanHexDifferential, AgreesWithSscanf)
{
    const char* apszPieces[] = {"", " ", "+", "-", "0", "0x1", "0X", "1", "a", "F", "9", "z", "fe"};
    int nCompared = 0;
    for (const char* a : apszPieces)
        for (const char* b : apszPieces)
            for (const char* c : apszPieces)
            {
                std::string text = std::string(a) + b + c;
                // "0x" without a digit after it is where C libraries differ.
                size_t x = text.find_first_of("xX");
                if (x != std::string::npos &&
                    (x + 1 >= text.size() || !isxdigit(static_cast<unsigned char>(text[x + 1]))))
                    continue;
                for (unsigned nWidth : {0u, 1u, 2u, 4u})
                {
                    std::string format = nWidth ? "%" + std::to_string(nWidth) + "x" : "%x";
                    unsigned int uExpected = 0;
                    int nMatched = sscanf(text.c_str(), format.c_str(), &uExpected);
                    uint32_t dwActual = 0;
                    bool blOk = ScanHex(text.c_str(), nWidth, &dwActual);
                    ASSERT_EQ(blOk, nMatched == 1) << '"' << text << "\" " << format;
                    if (blOk)
                        ASSERT_EQ(dwActual, uExpected) << '"' << text << "\" " << format;
                    ++nCompared;
                }
            }
    EXPECT_GT(nCompared, 1000);
}
