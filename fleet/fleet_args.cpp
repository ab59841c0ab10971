#include "fleet_args.h"

#include "../common/arg_text.h"

#include <initializer_list>
#include <vector>

namespace
{

int HexDigit(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

// An argument as the error line quotes it: control characters shown as '?'
// (the line stays one line), long arguments cut at a character boundary.
std::string Quoted(const std::string& arg)
{
    constexpr size_t kMaxShown = 80;
    std::string shown;
    for (size_t i = 0; i < arg.size(); ++i)
    {
        if (i >= kMaxShown && (static_cast<unsigned char>(arg[i]) & 0xC0) != 0x80)
        {
            shown += "...";
            break;
        }
        const unsigned char ch = static_cast<unsigned char>(arg[i]);
        shown += (ch < 0x20 || ch == 0x7F) ? '?' : arg[i];
    }
    return "[" + shown + "]";
}

// XX[,YY...]: each item 1 or 2 hexadecimal digits, ',' alone between them.
bool ParseWasList(const std::string& text, std::vector<uint8_t>* pValues)
{
    pValues->clear();
    size_t nAt = 0;
    for (;;)
    {
        const size_t nComma = text.find(',', nAt);
        const size_t nEnd = nComma == std::string::npos ? text.size() : nComma;
        uint32_t dwValue = 0;
        if (!ParseHexField(text.substr(nAt, nEnd - nAt), 2, &dwValue))
            return false;
        pValues->push_back(static_cast<uint8_t>(dwValue));
        if (nComma == std::string::npos)
            return true;
        nAt = nComma + 1;
    }
}

enum class Option
{
    Force,
    Detect,
    Json,
    Log,
    RebootCode,
    BusyCode,
    Csv,
    Model,
    Firmware,
    Size,
    Was,
    Guard,
    Count
};

struct OptionInfo
{
    const char* pszName;
    const char* pszValue; // the value's name, nullptr for a switch
    std::initializer_list<FleetCommand> commands;
};

const OptionInfo& Info(Option option)
{
    using C = FleetCommand;
    static const OptionInfo kOptions[] = {
        {"--force", nullptr, {C::Set, C::Undo}},
        {"--detect", nullptr, {C::Check}},
        {"--json", nullptr, {C::Check, C::Set, C::Undo}},
        {"--log", "PATH", {C::Check, C::Set, C::Undo}},
        {"--reboot-code", "N", {C::Set, C::Undo}},
        {"--busy-code", "N", {C::Check, C::Set, C::Undo}},
        {"--csv", nullptr, {C::Report}},
        {"--model", "TEXT", {C::Check, C::Set, C::Undo}},
        {"--firmware", "TEXT", {C::Check, C::Set, C::Undo}},
        {"--size", "N", {C::Check, C::Set, C::Undo}},
        {"--was", "XX[,YY...]", {C::Check, C::Set, C::Undo}},
        {"--guard", nullptr, {C::Check}},
    };
    return kOptions[static_cast<int>(option)];
}

// The refusal of a command line without a command: README.txt shows it above
// the usage, as a run without arguments prints it.
constexpr char kNoCommandGiven[] = "no command given: check, set, undo or report";

bool Refuse(std::string* pError, const std::string& text)
{
    *pError = text;
    return false;
}

bool CheckPositionals(const std::vector<std::string>& positionals, FleetRequest* pRequest,
                      std::string* pError)
{
    const char* pszCommand = FleetCommandWord(pRequest->command);
    const bool blReport = pRequest->command == FleetCommand::Report;
    const size_t nWanted = blReport ? 1 : 4;
    const std::string form =
        std::string(pszCommand) + (blReport ? " needs LOGFOLDER" : " needs NAME GUID OFFSET DATA");
    if (positionals.size() > nWanted)
        return Refuse(pError, form + ", one argument too many: " + Quoted(positionals[nWanted]));
    if (positionals.size() < nWanted)
        return Refuse(pError, form + ", " + std::to_string(positionals.size()) + " given");
    if (blReport)
    {
        if (positionals[0].empty())
            return Refuse(pError, "LOGFOLDER must not be empty, not []");
        pRequest->logFolder = positionals[0];
        return true;
    }
    if (positionals[0].empty())
        return Refuse(pError, "NAME must not be empty, not []");
    pRequest->name = positionals[0];
    if (!IsBracedGuidText(positionals[1]))
        return Refuse(pError, "GUID must be {8-4-4-4-12} hexadecimal digits in braces, not " +
                                  Quoted(positionals[1]));
    pRequest->guid = positionals[1];
    if (!ParseHexField(positionals[2], 8, &pRequest->dwOffset))
        return Refuse(pError,
                      "OFFSET must be 1 to 8 hexadecimal digits, not " + Quoted(positionals[2]));
    uint32_t dwData = 0;
    if (!ParseHexField(positionals[3], 2, &dwData))
        return Refuse(pError,
                      "DATA must be 1 or 2 hexadecimal digits, not " + Quoted(positionals[3]));
    pRequest->bData = static_cast<uint8_t>(dwData);
    return true;
}

} // namespace

bool ParseDecimal(const std::string& text, uint32_t dwMax, uint32_t* pdwValue)
{
    if (text.empty() || text.size() > 10 || text[0] == '0')
        return false;
    uint64_t qwValue = 0;
    for (char ch : text)
    {
        if (ch < '0' || ch > '9')
            return false;
        qwValue = qwValue * 10 + static_cast<uint64_t>(ch - '0');
    }
    if (qwValue > dwMax)
        return false;
    *pdwValue = static_cast<uint32_t>(qwValue);
    return true;
}

bool ParseHexField(const std::string& text, size_t cchMax, uint32_t* pdwValue)
{
    if (text.empty() || text.size() > cchMax || text.size() > 8)
        return false;
    uint32_t dwValue = 0;
    for (char ch : text)
    {
        const int nDigit = HexDigit(ch);
        if (nDigit < 0)
            return false;
        dwValue = dwValue << 4 | static_cast<uint32_t>(nDigit);
    }
    *pdwValue = dwValue;
    return true;
}

bool IsBracedGuidText(const std::string& text)
{
    static const char kForm[] = "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
    if (text.size() != sizeof kForm - 1)
        return false;
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (kForm[i] == 'x' ? HexDigit(text[i]) < 0 : text[i] != kForm[i])
            return false;
    }
    return true;
}

std::string HexByte(uint8_t b)
{
    static const char kDigits[] = "0123456789ABCDEF";
    return {kDigits[b >> 4], kDigits[b & 0xF]};
}

std::string HexOffset(uint32_t dwOffset)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    do
    {
        text.insert(text.begin(), kDigits[dwOffset & 0xF]);
        dwOffset >>= 4;
    } while (dwOffset != 0);
    return text;
}

bool ParseFleetArgs(int argc, const char* const* argv, FleetRequest* pRequest, std::string* pError)
{
    *pRequest = FleetRequest();
    pError->clear();
    if (argc < 2 || argv[1] == nullptr)
        return Refuse(pError, kNoCommandGiven);
    const std::string command = argv[1];
    for (FleetCommand c :
         {FleetCommand::Check, FleetCommand::Set, FleetCommand::Undo, FleetCommand::Report})
        if (ArgIs(command.c_str(), FleetCommandWord(c)))
            pRequest->command = c;
    if (pRequest->command == FleetCommand::None)
        return Refuse(pError, "unknown command " + Quoted(command) +
                                  ": the command is check, set, undo or report");

    bool ablSeen[static_cast<int>(Option::Count)] = {};
    std::vector<std::string> positionals;
    for (int i = 2; i < argc; ++i)
    {
        const std::string arg = argv[i] ? argv[i] : "";
        if (arg.compare(0, 2, "--") != 0)
        {
            positionals.push_back(arg);
            continue;
        }
        int nOption = 0;
        while (nOption < static_cast<int>(Option::Count) &&
               !ArgIs(arg.c_str(), Info(static_cast<Option>(nOption)).pszName))
            ++nOption;
        if (nOption == static_cast<int>(Option::Count))
            return Refuse(pError, "unknown option " + Quoted(arg));
        const Option option = static_cast<Option>(nOption);
        const OptionInfo& info = Info(option);
        bool blBelongs = false;
        for (FleetCommand c : info.commands)
            blBelongs = blBelongs || c == pRequest->command;
        if (!blBelongs)
            return Refuse(pError, "option " + Quoted(arg) + " does not belong to " +
                                      FleetCommandWord(pRequest->command));
        if (ablSeen[nOption])
            return Refuse(pError, "option " + Quoted(arg) + " is given twice");
        ablSeen[nOption] = true;
        std::string value;
        if (info.pszValue)
        {
            // A value that looks like an option is a forgotten value: taking
            // it would swallow the next option without a word.
            if (i + 1 >= argc || argv[i + 1] == nullptr ||
                std::string(argv[i + 1]).compare(0, 2, "--") == 0)
                return Refuse(pError, "option " + Quoted(arg) + " needs its " + info.pszValue +
                                          " after it");
            value = argv[++i];
        }
        switch (option)
        {
            case Option::Force:
                pRequest->blForce = true;
                break;
            case Option::Detect:
                pRequest->blDetect = true;
                break;
            case Option::Json:
                pRequest->blJson = true;
                break;
            case Option::Csv:
                pRequest->blCsv = true;
                break;
            case Option::Log:
                if (value.empty())
                    return Refuse(pError, "--log needs a PATH, not []");
                pRequest->logPath = value;
                break;
            case Option::RebootCode:
            case Option::BusyCode:
            {
                uint32_t dwCode = 0;
                if (!ParseDecimal(value, 2147483647u, &dwCode))
                    return Refuse(pError, std::string(info.pszName) +
                                              " must be a decimal number 1 to 2147483647, not " +
                                              Quoted(value));
                if (option == Option::RebootCode)
                {
                    pRequest->blHaveRebootCode = true;
                    pRequest->dwRebootCode = dwCode;
                }
                else
                {
                    pRequest->blHaveBusyCode = true;
                    pRequest->dwBusyCode = dwCode;
                }
                break;
            }
            case Option::Model:
            case Option::Firmware:
                if (value.empty())
                    return Refuse(pError, std::string(info.pszName) + " needs a TEXT, not []");
                (option == Option::Model ? pRequest->blHaveModel : pRequest->blHaveFirmware) = true;
                (option == Option::Model ? pRequest->modelPattern : pRequest->firmwarePattern) =
                    value;
                break;
            case Option::Size:
                if (!ParseDecimal(value, kMaxGuardSize, &pRequest->dwSize))
                    return Refuse(pError, "--size must be a decimal number 1 to " +
                                              std::to_string(kMaxGuardSize) + ", not " +
                                              Quoted(value));
                pRequest->blHaveSize = true;
                break;
            case Option::Was:
                if (!ParseWasList(value, &pRequest->wasValues))
                    return Refuse(pError, "--was must be values of 1 or 2 hexadecimal digits "
                                          "separated by commas, not " +
                                              Quoted(value));
                pRequest->blHaveWas = true;
                break;
            case Option::Guard:
                pRequest->blGuard = true;
                break;
            case Option::Count:
                break;
        }
    }
    if (!CheckPositionals(positionals, pRequest, pError))
        return false;
    // Each ends the output with a line of its own, which a detection rule or
    // a JSON reader takes as the run's last word.
    if (pRequest->blGuard && (pRequest->blDetect || pRequest->blJson))
        return Refuse(pError, std::string("option [--guard] does not go with ") +
                                  (pRequest->blDetect ? "[--detect]" : "[--json]") +
                                  ": each ends the output with a line of its own");
    return true;
}

// README.txt shows these lines as they stand: one literal per line, each
// ending in "\n".
const char* FleetUsageText()
{
    return "usage: ArdentisFleet64.exe (ArdentisFleet.exe on 32-bit Windows) COMMAND ...\n"
           "  check NAME GUID OFFSET DATA  whether the byte holds DATA or could be set\n"
           "  set   NAME GUID OFFSET DATA  set the byte to DATA, verify, record\n"
           "  undo  NAME GUID OFFSET DATA  restore the byte a set to DATA changed\n"
           "  report LOGFOLDER             sum up the central logs of a folder\n"
           "  NAME: the variable's name; GUID: {8-4-4-4-12}; OFFSET: 1 to 8 hexadecimal\n"
           "  digits; DATA: 1 or 2 hexadecimal digits (no 0x)\n"
           "options (any order, each once, any case):\n"
           "  --log PATH         check, set, undo: append a line to the central log PATH\n"
           "  --json             check, set, undo: end with one JSON line, not RESULT=...\n"
           "  --detect           check: as a deployment system's detection rule\n"
           "  --force            set, undo: write even when the value is already there\n"
           "  --reboot-code N    set, undo: exit code N (1 to 2147483647) after a change\n"
           "  --busy-code N      check, set, undo: exit code N when another run holds the lock\n"
           "  --csv              report: write CSV instead of text\n"
           "  --guard            check: end with the guard options that describe this PC\n"
           "guards (check, set, undo: one that does not hold ends the run before any write):\n"
           "  --model TEXT       the PC's model matches TEXT\n"
           "  --firmware TEXT    the PC's firmware version matches TEXT\n"
           "  --size N           the variable has N bytes (1 to 4194304)\n"
           "  --was XX[,YY...]   the byte holds DATA or one of XX, YY... (hexadecimal)\n"
           "  TEXT: compared without regard to case; * matches any run of characters\n";
}

const char* FleetCommandWord(FleetCommand command)
{
    switch (command)
    {
        case FleetCommand::Check:
            return "check";
        case FleetCommand::Set:
            return "set";
        case FleetCommand::Undo:
            return "undo";
        case FleetCommand::Report:
            return "report";
        case FleetCommand::None:
            break;
    }
    return "";
}
