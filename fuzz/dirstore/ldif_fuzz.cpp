#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "dirstore/journal.h"
#include "dirstore/ldif.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<tally::store::LdifRecord> records;
    tally::store::Problem problem;
    if (tally::store::ParseLdif(text, "fuzz.ldif", 1, records, &problem)) {
        // What was read must write out and read back the same.
        for (const auto& record : records) {
            std::string written = tally::store::FormatLdifRecord(record);
            std::vector<tally::store::LdifRecord> again;
            if (!tally::store::ParseLdif(written, "again.ldif", 1, again, &problem) ||
                again.size() != 1 || again[0].dn != record.dn ||
                again[0].values.size() != record.values.size() ||
                again[0].mods.size() != record.mods.size()) {
                __builtin_trap();
            }
        }
    }
    for (bool final : {false, true}) {
        auto scan = tally::store::ScanJournal(text, 1, final);
        if (scan.consumed > text.size()) {
            __builtin_trap();
        }
        for (const auto& record : scan.records) {
            std::vector<tally::store::LdifRecord> parsed;
            tally::store::ParseLdif(record.body, "journal.ldif", record.line, parsed, &problem);
        }
    }
    return 0;
}
