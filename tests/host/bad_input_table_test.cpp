// The command-line bad-input table (tests/e2e/bad_input_cmdline.tsv) through
// both passes natively, so that ASan and UBSan see every row: each argument
// and the name block get heap blocks of exactly their size, so a read or
// write one byte past any of them is reported even where Wine would not
// crash. The end-to-end test runs the same rows as whole processes.
#include "driver/cmdline.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace
{

constexpr const char* kName = "Setup";
constexpr const char* kGuid = "{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9}";

struct Row
{
    int nLine = 0;
    std::string args, decision, stdoutText, comment;
    int nExit = 0;
};

std::vector<std::string> SplitOn(const std::string& text, char chSeparator)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream stream(text);
    while (std::getline(stream, part, chSeparator))
        parts.push_back(part);
    if (!text.empty() && text.back() == chSeparator)
        parts.emplace_back();
    return parts;
}

std::vector<Row> LoadTable()
{
    std::ifstream file(ARDENTIS_BAD_INPUT_TABLE, std::ios::binary);
    EXPECT_TRUE(file) << "cannot open " << ARDENTIS_BAD_INPUT_TABLE;
    std::vector<Row> rows;
    std::string line;
    for (int nLine = 1; std::getline(file, line); ++nLine)
    {
        if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#')
            continue;
        std::vector<std::string> fields = SplitOn(line, '\t');
        EXPECT_EQ(fields.size(), 7u) << "line " << nLine;
        if (fields.size() != 7)
            continue;
        Row row;
        row.nLine = nLine;
        row.args = fields[0];
        row.decision = fields[1];
        row.nExit = std::stoi(fields[2]);
        row.stdoutText = fields[3];
        row.comment = fields[6];
        rows.push_back(row);
    }
    return rows;
}

// \s \t \n \xHH \\ and {{text*N}}, as the table's header describes them.
std::string Unescape(const std::string& token)
{
    std::string out;
    for (size_t i = 0; i < token.size();)
    {
        if (token[i] == '\\' && i + 1 < token.size())
        {
            char ch = token[i + 1];
            if (ch == 'x')
            {
                out += static_cast<char>(std::stoi(token.substr(i + 2, 2), nullptr, 16));
                i += 4;
                continue;
            }
            out += ch == 's' ? " " : ch == 't' ? "\t" : ch == 'n' ? "\r\n" : "\\";
            i += 2;
        }
        else if (token.compare(i, 2, "{{") == 0)
        {
            size_t nEnd = token.find("}}", i);
            std::string body = token.substr(i + 2, nEnd - i - 2);
            size_t nStar = body.rfind('*');
            std::string text = Unescape(body.substr(0, nStar));
            for (int n = std::stoi(body.substr(nStar + 1)); n > 0; --n)
                out += text;
            i = nEnd + 2;
        }
        else
            out += token[i++];
    }
    return out;
}

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    for (size_t nAt = text.find(from); nAt != std::string::npos; nAt = text.find(from, nAt))
    {
        text.replace(nAt, from.size(), to);
        nAt += to.size();
    }
    return text;
}

std::vector<std::string> ExpandArgs(const std::string& column)
{
    std::vector<std::string> args;
    for (const std::string& token : SplitOn(column, ' '))
    {
        if (token == "@VAR")
            args.insert(args.end(), {"-uefi", "-name", kName, "-guid", kGuid});
        else if (token == "\"\"")
            args.emplace_back();
        else
            args.push_back(Unescape(Replace(
                Replace(Replace(token, "@DUMP", "dump.txt"), "@NAME", kName), "@GUID", kGuid)));
    }
    return args;
}

// Each text in a heap block of exactly its size: one byte too far is a report.
struct ExactArgv
{
    std::vector<std::unique_ptr<char[]>> blocks;
    std::vector<const char*> argv;
    explicit ExactArgv(const std::vector<std::string>& args)
    {
        std::vector<std::string> all = {"Ardentis64.exe"};
        all.insert(all.end(), args.begin(), args.end());
        for (const std::string& text : all)
        {
            blocks.emplace_back(new char[text.size() + 1]);
            memcpy(blocks.back().get(), text.c_str(), text.size() + 1);
            argv.push_back(blocks.back().get());
        }
    }
    int argc() const { return static_cast<int>(argv.size()); }
};

std::unique_ptr<uint8_t[]> g_pNameBlock;

uint8_t* ExactNameBlock(void** phMem)
{
    g_pNameBlock.reset(new uint8_t[kNameBlockSize]());
    *phMem = g_pNameBlock.get();
    return g_pNameBlock.get();
}

std::string DecisionOf(const SecondPassAction& action)
{
    switch (action.kind)
    {
        case ActionKind::Usage:
            return "usage";
        case ActionKind::ActMissing:
            return "act-missing";
        case ActionKind::ActInvalid:
            return "act-invalid";
        case ActionKind::SetvarMissingArgs:
            return "setvar-args";
        case ActionKind::GetvarMissingFile:
            return "getvar-file";
        case ActionKind::Getvar:
            return "getvar";
        case ActionKind::Delvar:
            return "delvar";
        case ActionKind::Setvar:
        {
            char szText[32];
            (void)snprintf(szText, sizeof szText, "setvar %04X %02X",
                           static_cast<unsigned>(action.nOffset), action.bData);
            return szText;
        }
    }
    return "?";
}

bool Terminated(const char* pszField, size_t cchField)
{
    return memchr(pszField, '\0', cchField) != nullptr;
}

// Decisions that end the run in the driver, with their exit code and output.
struct DriverEnd
{
    const char* pszDecision;
    int nExit;
    const char* pszStdout;
};
const DriverEnd kDriverEnds[] = {
    {"usage", 255, "@USAGE"},
    {"no-file-name", 255, "Please input file name.\\n"},
    {"act-missing", -1, "The parameter error\\n"},
    {"act-invalid", -1, "Please input the correct parameter with -act.\\n"},
    {"setvar-args", 255, "The parameter error. Please use /Setvar <offset> <data>.\\n"},
    {"getvar-file", 255, "The parameter error. Please use /Getvar <filename>.\\n"},
};

} // namespace

TEST(BadInputTable, EveryRowDecidesAsTheTableSaysWithinItsBuffers)
{
    std::vector<Row> rows = LoadTable();
    ASSERT_GT(rows.size(), 40u);
    for (const Row& row : rows)
    {
        SCOPED_TRACE("table line " + std::to_string(row.nLine) + ": " + row.args);
        ExactArgv args(ExpandArgs(row.args));
        std::unique_ptr<ToolSettings> pSettings(new ToolSettings);
        g_pNameBlock.reset();

        std::string decision;
        FirstPassResult result =
            RunFirstPass(args.argc(), args.argv.data(), *pSettings, ExactNameBlock);
        // Fields always terminated, pointers only into the arguments.
        EXPECT_TRUE(Terminated(pSettings->szDefFile, sizeof pSettings->szDefFile));
        EXPECT_TRUE(
            Terminated(pSettings->szSecurityBootFile, sizeof pSettings->szSecurityBootFile));
        EXPECT_TRUE(Terminated(pSettings->szSearchString, sizeof pSettings->szSearchString));
        EXPECT_TRUE(Terminated(pSettings->szGuidText, sizeof pSettings->szGuidText));
        EXPECT_EQ(strlen(pSettings->szGuidText), pSettings->wGuidTextLen);
        // The name block is counted, not terminated: a 1024-character name
        // fills it whole.
        if (pSettings->pNameBuf)
            EXPECT_EQ(strnlen(reinterpret_cast<const char*>(pSettings->pNameBuf), kNameBlockSize),
                      pSettings->wNameLen);
        for (const char* psz : {pSettings->pszVarName, pSettings->pszVarGuid})
        {
            bool blInArgs = psz == nullptr;
            for (int i = 1; i < args.argc(); ++i)
                blInArgs = blInArgs || psz == args.argv[i];
            EXPECT_TRUE(blInArgs);
        }

        if (result == FirstPassResult::MissingFileName)
            decision = "no-file-name";
        else
        {
            ASSERT_EQ(result, FirstPassResult::Ok);
            SecondPassAction action = RunSecondPass(args.argc(), args.argv.data(), *pSettings);
            decision = DecisionOf(action);
            if (action.kind == ActionKind::Setvar)
            {
                // The Offset line the driver prints opens the row's output.
                char szLine[64];
                (void)snprintf(szLine, sizeof szLine, "Offset = %04X, Data = %02X\\n",
                               static_cast<unsigned>(action.nOffset), action.bData);
                EXPECT_EQ(row.stdoutText.rfind(szLine, 0), 0u) << row.stdoutText;
                EXPECT_GE(action.nOffset, -0xFFF);
                EXPECT_LE(action.nOffset, 0xFFFF);
            }
            if (action.kind == ActionKind::Getvar)
                EXPECT_NE(action.pszFile, nullptr);
        }
        EXPECT_EQ(decision, row.decision);
        for (const DriverEnd& end : kDriverEnds)
        {
            if (decision != end.pszDecision)
                continue;
            EXPECT_EQ(row.nExit, end.nExit);
            EXPECT_EQ(row.stdoutText, end.pszStdout);
        }
    }
}
