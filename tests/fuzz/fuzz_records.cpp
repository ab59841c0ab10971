// The fleet program's record files read from any bytes: what ParseRecords
// reads, written again with FormatRecord, reads back as the same fields; a
// log entry and a journal record made from a record write back as it.
#include "fleet/fleet_records.h"

#include "fuzz_common.h"

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbData, size_t cbData)
{
    const std::string text(reinterpret_cast<const char*>(pbData), cbData);
    std::vector<RecordFields> records;
    const bool blWhole = ParseRecords(text, &records);

    std::string again;
    for (const RecordFields& fields : records)
    {
        fuzz::Check(!fields.empty());
        again += FormatRecord(fields);

        LogEntry entry;
        if (LogEntryFromRecord(fields, &entry))
            fuzz::Check(FormatLogEntry(entry) == FormatRecord(fields));
        else
            fuzz::Check(fields.size() != kLogFieldCount || IsLogHeader(fields));

        JournalRecord record;
        if (JournalRecordFromFields(fields, &record))
        {
            // Written again it reads back as the same record.
            std::vector<RecordFields> reread;
            fuzz::Check(ParseRecords(FormatJournalRecord(record), &reread) && reread.size() == 1);
            JournalRecord second;
            fuzz::Check(JournalRecordFromFields(reread[0], &second));
            fuzz::Check(FormatJournalRecord(second) == FormatJournalRecord(record));
        }
    }
    std::vector<RecordFields> reread;
    fuzz::Check(ParseRecords(again, &reread));
    fuzz::Check(reread == records);
    // A text cut inside quotes keeps the records before the cut: the text
    // with a closing quote and line end added reads at least as many.
    if (!blWhole)
    {
        std::vector<RecordFields> closed;
        fuzz::Check(ParseRecords(text + "\"\r\n", &closed) && closed.size() == records.size() + 1);
    }
    return 0;
}
