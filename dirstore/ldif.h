// LDIF (RFC 2849) reading and writing: content records, and the change records "add" and
// "modify" (with add/replace/delete and the increment of RFC 4525).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "dirstore/store.h"

namespace tally::store {

struct LdifValue {
    std::string attribute;  // as written in the file
    std::string value;      // decoded bytes
    int line = 0;
};

enum class ModOp { Add, Replace, Delete, Increment };

struct LdifMod {
    ModOp op = ModOp::Add;
    std::string attribute;
    std::vector<std::string> values;
    int line = 0;
};

enum class RecordKind {
    Content,  // an entry: dn and attributes
    Add,      // changetype: add
    Modify,   // changetype: modify
};

struct LdifRecord {
    RecordKind kind = RecordKind::Content;
    int line = 0;  // the line of "dn:"
    std::string dn;
    std::vector<LdifValue> values;  // Content and Add
    std::vector<LdifMod> mods;      // Modify
};

// Parses `text`, whose first line is line `firstLine` of `file`, appending its records. On bad
// input returns false and names the file and line in `problem`.
bool ParseLdif(std::string_view text, const std::filesystem::path& file, int firstLine,
               std::vector<LdifRecord>& records, Problem* problem);

// Appends "attr: value" (or "attr:: base64" for a value that is not a safe string), folded at
// 76 columns, with its line end.
void WriteLdifLine(std::string& out, std::string_view attribute, std::string_view value);

// The record's lines, each ended by "\n", without the blank line that separates records.
std::string FormatLdifRecord(const LdifRecord& record);

std::string EncodeBase64(std::string_view bytes);
bool DecodeBase64(std::string_view text, std::string& bytes);

}  // namespace tally::store
