// The framing of the change journal and of the snapshot's first line.
//
// journal.ldif starts with "# tallydesk journal generation=N"; each record is preceded by
// "# record length=L crc32=C" (L the byte length of the record's LDIF lines, C their CRC-32 in
// eight hex digits) and followed by one blank line. Both are LDIF comments, so the journal stays
// a file that ldapmodify replays as it stands. A record whose length or CRC does not match was
// torn by a writer that stopped in the middle of its append.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tally::store {

inline constexpr std::string_view kJournalHeader = "# tallydesk journal generation=";
inline constexpr std::string_view kSnapshotHeader = "# tallydesk snapshot generation=";
inline constexpr std::string_view kRecordHeader = "# record length=";
// The last line a compaction writes into the snapshot: "# end of snapshot: N entries", and the
// note on its second line that announces it, so that a snapshot cut short is told from one that
// never had the end line (written by hand or by an older compaction).
inline constexpr std::string_view kSnapshotEndLine = "# end of snapshot: ";
inline constexpr std::string_view kSnapshotEndNote =
    "# Written by compaction; its last line counts the entries.";

// "<prefix><generation>\n"
std::string GenerationLine(std::string_view prefix, std::uint64_t generation);
// The generation on the text's first line if it is "<prefix><number>".
std::optional<std::uint64_t> ReadGeneration(std::string_view text, std::string_view prefix);

// The record header, the record's lines and the blank line that ends it.
std::string FrameRecord(std::string_view body);

struct ScannedRecord {
    std::string_view body;  // LDIF lines of one record (or several, for hand-written journals)
    int line = 0;           // line of the body's first line
};

struct JournalScan {
    std::vector<ScannedRecord> records;
    std::vector<int> tornLines;  // lines of the headers of torn records that were passed over
    std::size_t consumed = 0;    // bytes read up to; a pending tail is not consumed
    int consumedLines = 0;       // line ends within the consumed bytes
    bool pendingTail = false;    // an incomplete record at the end, not yet consumed
    int pendingLine = 0;
    bool endsClean = true;  // consumed bytes end on a record boundary
};

// Scans journal text that starts at line `firstLine`. An incomplete record at the very end may
// still be being written: it is left pending, unless `tailIsFinal` (the caller holds the append
// lock, so nobody is writing), when it is torn and passed over.
JournalScan ScanJournal(std::string_view text, int firstLine, bool tailIsFinal);

}  // namespace tally::store
