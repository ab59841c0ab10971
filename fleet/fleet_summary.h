// What a run ends its standard output with: one summary line of at most 200
// characters that a deployment system can read (Ansible's changed_when, a
// task-sequence variable), or the same as one line of compact JSON.
#pragma once

#include <cstdint>
#include <string>

constexpr size_t kSummaryMaxChars = 200;

struct RunSummary
{
    std::string outcome; // the outcome word: CHANGED, UNCHANGED, HOLDS, READY, ...
    int32_t nExitCode = 0;
    std::string command; // check, set, undo ("" when the command line was refused)
    bool blHaveOld = false;
    uint8_t bOld = 0; // the byte as read before
    bool blHaveNew = false;
    uint8_t bNew = 0; // the value wanted (set, check: DATA; undo: the value restored)
    bool blHaveReadBack = false;
    uint8_t bReadBack = 0;
    std::string reason; // reason word, "" on success
    std::string run;    // run id, "" when none was made
    // What the run ran on (--json only); "" and blHaveSize false when unknown.
    std::string model;
    std::string firmware;
    bool blHaveSize = false;
    uint32_t dwSize = 0; // the variable's size in bytes
};

// "RESULT=CHANGED EXIT=0 OLD=03 NEW=7E READ=7E REASON= RUN=..." with empty
// values for what was not seen; a space or control character in a value
// shows as '_' (so values split at spaces); cut to kSummaryMaxChars bytes at
// a UTF-8 character boundary. No line end.
std::string FormatSummaryLine(const RunSummary& summary);
// {"result":"CHANGED","exit":0,"command":"set","old":"03","new":"7E","read":"7E",
//  "reason":null,"run":"...","model":"...","firmware":"...","size":4096} with
// null for what was not seen or is not known; strings escaped as JSON
// requires (control characters as \u00XX, bytes that are not UTF-8 as
// \ufffd); one line, no line end. Never longer than kSummaryMaxChars: the
// model and firmware version are cut first, shorter a byte at a time from 64
// bytes down to 1 each, then the other texts, to 32, 16, ... 1 byte, until it
// fits: the run id and the program's own words stay whole as long as they can.
std::string FormatSummaryJson(const RunSummary& summary);
