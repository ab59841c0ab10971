// Compares debug output with an expected text in which '@' stands for the
// build-stamp prefix of one DebugPrint call ("Dec  5 2016 14:13:25: ").
#pragma once

#include <regex>
#include <string>

inline bool MatchesWithStamps(const std::string& strActual, const std::string& strExpected)
{
    std::string strPattern;
    for (char c : strExpected)
    {
        if (c == '@')
            strPattern += "[A-Z][a-z]{2} [ 123][0-9] [0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-5][0-9]: ";
        else if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos)
            strPattern += std::string("\\") + c;
        else if (c == '\n')
            strPattern += "\\n";
        else
            strPattern += c;
    }
    return std::regex_match(strActual, std::regex(strPattern));
}
