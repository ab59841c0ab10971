// DebugPrint: the build-stamp prefix, the 511-character limit and the stream
// read through the owner's variable at every call.
#include "access/debug_print.h"
#include "debug_stamp.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

std::string Contents(FILE* pFile)
{
    EXPECT_EQ(0, fflush(pFile));
    std::string text;
    rewind(pFile);
    int c;
    while ((c = fgetc(pFile)) != EOF)
        text += static_cast<char>(c);
    return text;
}

} // namespace

TEST(DebugPrint, PrefixThenTextWithoutAddedLineEnd)
{
    FILE* pFile = tmpfile();
    ASSERT_NE(nullptr, pFile);
    DebugPrint(&pFile, "FINI not success %X  %X.\n", 4u, 1u);
    DebugPrint(&pFile, "no newline");
    std::string text = Contents(pFile);
    EXPECT_TRUE(MatchesWithStamps(text, "@FINI not success 4  1.\n@no newline")) << text;
    // The stamp is the build date and time, the same for every call.
    EXPECT_EQ(text.substr(0, 22), text.substr(text.find('\n') + 1, 22));
    EXPECT_EQ(0, fclose(pFile));
}

TEST(DebugPrint, TextOf511IsWrittenLongerWritesNothing)
{
    FILE* pFile = tmpfile();
    ASSERT_NE(nullptr, pFile);
    const std::string str511(511, 'a');
    DebugPrint(&pFile, "%s", str511.c_str());
    EXPECT_TRUE(MatchesWithStamps(Contents(pFile), "@" + str511));
    DebugPrint(&pFile, "%s", (str511 + "b").c_str());
    DebugPrint(&pFile, "%s%s", str511.c_str(), str511.c_str());
    EXPECT_TRUE(MatchesWithStamps(Contents(pFile), "@" + str511))
        << "a text over 511 writes nothing, not even the prefix";
    EXPECT_EQ(0, fclose(pFile));
}

TEST(DebugPrint, StreamVariableIsReadAtEveryCall)
{
    FILE* pLog = nullptr;
    DebugPrint(&pLog, "lost\n"); // nothing open: nothing happens
    DebugPrint(nullptr, "lost\n");
    FILE* pFirst = tmpfile();
    FILE* pSecond = tmpfile();
    ASSERT_NE(nullptr, pFirst);
    ASSERT_NE(nullptr, pSecond);
    pLog = pFirst;
    DebugPrint(&pLog, "one\n");
    pLog = pSecond;
    DebugPrint(&pLog, "two\n");
    EXPECT_TRUE(MatchesWithStamps(Contents(pFirst), "@one\n"));
    EXPECT_TRUE(MatchesWithStamps(Contents(pSecond), "@two\n"));
    EXPECT_EQ(0, fclose(pFirst));
    EXPECT_EQ(0, fclose(pSecond));
}

TEST(DebugDump, RawBytesThenLineEndWithoutPrefix)
{
    FILE* pFile = tmpfile();
    ASSERT_NE(nullptr, pFile);
    const unsigned char abRaw[5] = {'E', 0, 0xFF, '\n', 'F'};
    DebugDump(&pFile, abRaw, sizeof(abRaw));
    EXPECT_EQ(std::string("E\0\xFF\nF\n", 6), Contents(pFile));
    FILE* pNone = nullptr;
    DebugDump(&pNone, abRaw, sizeof(abRaw));
    EXPECT_EQ(0, fclose(pFile));
}
