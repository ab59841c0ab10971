// The dump file's text, byte for byte.
#include "fwvar/dump_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

std::string Dump(const std::vector<uint8_t>& data)
{
    std::string text(DumpChunkCapacity(data.size()), '#');
    text.resize(FormatDumpText(data.data(), data.size(), 0, &text[0]));
    return text;
}

std::vector<uint8_t> Counting(size_t n)
{
    std::vector<uint8_t> data(n);
    for (size_t i = 0; i < n; ++i)
        data[i] = static_cast<uint8_t>(i);
    return data;
}

} // namespace

TEST(DumpFormat, SixteenBytesAreOneLineEndingInASpace)
{
    std::string text = Dump(Counting(16));
    EXPECT_EQ(text, "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F ");
    EXPECT_EQ(text.size(), 48u);
}

TEST(DumpFormat, SeventeenthByteStartsASecondLineAfterCrLf)
{
    EXPECT_EQ(Dump(Counting(18)), "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \r\n10 11 ");
    EXPECT_EQ(Dump({0xAB}), "AB ");
    EXPECT_EQ(Dump({}), "");
}

TEST(DumpFormat, UpperCaseDigitsForEveryByteValue)
{
    std::string text = Dump(Counting(256));
    EXPECT_EQ(text.substr(3 * 10 + 2 * 0, 3), "0A ");
    EXPECT_EQ(text.substr(text.size() - 3), "FF ");
    EXPECT_EQ(text.find_first_of("abcdef"), std::string::npos);
}

TEST(DumpFormat, SizeFormulaMatchesText)
{
    for (size_t n : {0, 1, 15, 16, 17, 31, 32, 33, 1000, 4096})
        EXPECT_EQ(Dump(Counting(n)).size(), DumpTextSize(n)) << n;
    EXPECT_EQ(DumpTextSize(4194304), 3u * 4194304 + 2 * (262144 - 1));
}

TEST(DumpFormat, ChunksJoinToTheWholeText)
{
    // Chunks that start mid-line place their line ends by the global index.
    std::vector<uint8_t> data = Counting(100);
    std::string whole = Dump(data);
    for (size_t cut : {1, 15, 16, 17, 50, 99})
    {
        std::string joined(DumpChunkCapacity(100) * 2, '#');
        size_t n1 = FormatDumpText(data.data(), cut, 0, &joined[0]);
        size_t n2 = FormatDumpText(data.data() + cut, 100 - cut, cut, &joined[n1]);
        joined.resize(n1 + n2);
        EXPECT_EQ(joined, whole) << cut;
    }
}

TEST(DumpFormat, NeverWritesPastItsCapacity)
{
    for (size_t n = 0; n < 70; ++n)
        for (size_t first = 0; first < 20; ++first)
        {
            std::vector<uint8_t> data = Counting(n);
            std::vector<char> out(DumpChunkCapacity(n) + 8, '#');
            size_t cch = FormatDumpText(data.data(), n, first, out.data());
            ASSERT_LE(cch, DumpChunkCapacity(n));
            for (size_t i = DumpChunkCapacity(n); i < out.size(); ++i)
                ASSERT_EQ(out[i], '#');
        }
}
