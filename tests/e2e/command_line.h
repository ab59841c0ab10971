// Building a child's command line for CreateProcessA from the harness's own
// arguments, shared by the e2e harness programs.
#pragma once

#include <string>

// Quotes one argument so that the C runtime's parser gives it back unchanged.
inline std::string QuoteArgument(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos)
        return arg;
    std::string quoted = "\"";
    size_t nBackslashes = 0;
    for (char ch : arg)
    {
        if (ch == '\\')
        {
            ++nBackslashes;
            continue;
        }
        quoted.append(ch == '"' ? nBackslashes * 2 + 1 : nBackslashes, '\\');
        nBackslashes = 0;
        quoted += ch;
    }
    quoted.append(nBackslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

// argv[nFirst] onwards, quoted and separated by blanks.
inline std::string JoinArguments(int argc, char** argv, int nFirst)
{
    std::string commandLine;
    for (int i = nFirst; i < argc; ++i)
    {
        if (i > nFirst)
            commandLine += ' ';
        commandLine += QuoteArgument(argv[i]);
    }
    return commandLine;
}
