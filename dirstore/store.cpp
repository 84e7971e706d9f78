// The store over one folder: the snapshot and the journal are read into memory; every change
// is appended to the journal under the append lock, after the view has caught up with what
// other processes appended, so the journal's order is the order in which changes apply.
#include <algorithm>
#include <charconv>
#include <limits>
#include <set>

#include "dirstore/journal.h"
#include "dirstore/ldif.h"
#include "dirstore/names.h"
#include "dirstore/schema.h"
#include "dirstore/store.h"
#include "platform/files.h"

namespace tally::store {
namespace {

constexpr const char* kSchemaFile = "schema.ldif";
constexpr const char* kSnapshotFile = "directory.ldif";
constexpr const char* kJournalFile = "journal.ldif";
constexpr const char* kLockFile = "store.lock";
constexpr const char* kTemporarySuffix = ".tmp";
constexpr std::uint64_t kGenerationLineBytes = 128;
constexpr std::string_view kObjectClass = "Object Class";

bool parseInt32(std::string_view text, std::int32_t& value) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

bool isCaseIgnoringSyntax(std::uint32_t syntax) {
    return syntax == 1 || syntax == 3 || syntax == 20;
}

bool sameValue(const AttributeDef& def, std::string_view a, std::string_view b) {
    return isCaseIgnoringSyntax(def.syntax) ? equalsIgnoreCase(a, b) : a == b;
}

bool holdsValue(const AttributeDef& def, const std::vector<std::string>& values,
                std::string_view value) {
    return std::any_of(values.begin(), values.end(),
                       [&](const std::string& held) { return sameValue(def, held, value); });
}

bool isIntegerSyntax(std::uint32_t syntax) {
    return syntax == 8 || syntax == 22;
}

// Integers are held in their shortest decimal form, whichever way they came in ("+05" is "5").
Status canonicalInteger(std::string_view text, std::string& out) {
    std::int32_t number = 0;
    if (!parseInt32(text, number)) {
        return kBadSyntax;
    }
    out = std::to_string(number);
    return kOk;
}

// Sets the attribute to `held` with `values` joined, refused as an LDAP server refuses them (a
// value given twice, or a second value of a single-valued attribute), which leaves it as it was.
Status setJoined(const AttributeDef& def, std::vector<std::string> held,
                 const std::vector<std::string>& values, AttributeMap& attributes) {
    for (const std::string& value : values) {
        if (holdsValue(def, held, value)) {
            return kDuplicateValue;
        }
        held.push_back(value);
    }
    if (def.singleValued && held.size() > 1) {
        return kSingleValued;
    }
    attributes[def.name] = std::move(held);
    return kOk;
}

// What the end of a snapshot says about whether it is whole.
struct SnapshotEnd {
    int endLine = 0;                     // line of "# end of snapshot: N entries"; 0: none
    std::optional<std::size_t> counted;  // its N, when it is well formed
    bool announced = false;              // line 2 announces the end line
    int lastLine = 0;                    // the last line that is not blank
    bool endsWithLineEnd = true;
};

SnapshotEnd readSnapshotEnd(std::string_view text) {
    SnapshotEnd end;
    int number = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t lineEnd = std::min(text.find('\n', pos), text.size());
        std::string_view line = text.substr(pos, lineEnd - pos);
        pos = lineEnd + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        ++number;
        if (line.empty()) {
            continue;
        }
        end.lastLine = number;
        if (number == 2 && line == kSnapshotEndNote) {
            end.announced = true;
        }
        if (line.substr(0, kSnapshotEndLine.size()) == kSnapshotEndLine) {
            end.endLine = number;
            line.remove_prefix(kSnapshotEndLine.size());
            std::size_t count = 0;
            auto [after, error] = std::from_chars(line.data(), line.data() + line.size(), count);
            end.counted.reset();
            if (error == std::errc() && after != line.data() &&
                std::string_view(after, static_cast<std::size_t>(line.data() + line.size() -
                                                                 after)) == " entries") {
                end.counted = count;
            }
        }
    }
    end.endsWithLineEnd = text.empty() || text.back() == '\n';
    return end;
}

// The number of records in LDIF text: lines that begin with "dn:". Within a record no other
// line may (the parser refuses it), continuation lines begin with a space and comments with
// '#'. A lone CR counts as a line end here, so that a file with CR-only line ends is not taken
// for an empty one.
std::size_t countRecordStarts(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < text.size(); ++pos) {
        if ((pos == 0 || text[pos - 1] == '\n' || text[pos - 1] == '\r') &&
            pos + 3 <= text.size() && equalsIgnoreCase(text.substr(pos, 3), "dn:")) {
            ++count;
        }
    }
    return count;
}

// One object as stored: the view handed out, its DN, and attributes the schema does not know
// (kept as read so that a compaction writes them back unchanged).
struct StoredEntry {
    Entry entry;
    std::string dn;
    std::vector<LdifValue> foreign;
};

class FolderStore final : public Store {
  public:
    FolderStore(std::filesystem::path folder, std::chrono::milliseconds lockWait)
        : folder_(std::move(folder)), lockWait_(lockWait) {}

    bool load(Problem* problem) {
        if (!schema_.load(folder_ / kSchemaFile, problem)) {
            return false;
        }
        return loadAll(false, problem);
    }

    Status refresh() override { return refreshJournal(false); }

    const Entry* find(std::string_view fullName) const override {
        auto found = entries_.find(fullName);
        return found == entries_.end() ? nullptr : &found->second.entry;
    }

    std::vector<const Entry*> children(std::string_view container) const override {
        std::vector<const Entry*> out;
        auto found = children_.find(container);
        if (found != children_.end()) {
            out.reserve(found->second.size());
            for (const auto& [leaf, entry] : found->second) {
                out.push_back(entry);
            }
        }
        return out;
    }

    const AttributeDef* attribute(std::string_view name) const override {
        return schema_.attribute(name);
    }
    const std::vector<AttributeDef>& attributes() const override { return schema_.attributes(); }
    const ClassDef* objectClass(std::string_view name) const override {
        return schema_.objectClass(name);
    }
    const std::vector<ClassDef>& classes() const override { return schema_.classes(); }

    Status modify(std::string_view fullName, const std::vector<Change>& changes) override;
    Status addEntry(const Entry& entry) override;
    Status compact() override;
    Status sync() override;

    const std::vector<Problem>& warnings() const override { return warnings_; }

    // Every object as an LDIF content record, containers first; `count` (if given) receives
    // the number of records.
    std::string entriesText(std::size_t* count = nullptr) const;

  private:
    std::filesystem::path path(const char* name) const { return folder_ / name; }
    std::filesystem::path temporary(const char* name) const {
        return folder_ / (std::string(name) + kTemporarySuffix);
    }

    void warn(const std::filesystem::path& file, int line, std::string message) {
        warnings_.push_back(Problem{file, line, std::move(message)});
    }

    // Loading and catching up.
    bool loadAll(bool lockHeld, Problem* problem);
    bool loadSnapshot(Problem* problem);
    Status refreshJournal(bool lockHeld);
    void applyJournalText(std::string_view text, bool lockHeld);
    void applyJournalRecord(std::string_view body, int line);
    Status catchUpUnderLock();
    Status lockAndCatchUp(std::optional<platform::AppendLock>& lock);
    Status startFreshJournal();
    Status giveJournalItsGeneration();

    // Entries and values.
    bool entryFromLdif(const LdifRecord& record, StoredEntry& out, std::string* error) const;
    const StoredEntry* insert(StoredEntry stored);
    // The container last looked up, for checking many entries of one container in a row.
    struct ContainerCache {
        std::string name;
        const StoredEntry* entry = nullptr;
    };
    std::string placementError(const StoredEntry& stored, ContainerCache* cache = nullptr) const;
    Status toStoredValue(const AttributeDef& def, std::string_view ldif, std::string& out) const;
    Status toLdifValue(const AttributeDef& def, std::string_view value, std::string& out) const;
    std::string dnOf(std::string_view fullName) const;
    Status applyMod(StoredEntry& stored, const LdifMod& mod) const;
    Status planChange(StoredEntry& working, const Change& change, std::vector<LdifMod>& mods) const;
    Status appendRecord(const std::string& body);
    Status checkValueCounts(const LdifRecord& record) const;
    std::string snapshotText(std::uint64_t generation, std::string_view entries,
                             std::size_t count) const;
    Status checkNothingIsLost(std::size_t count);
    void writeEntry(std::string& out, const StoredEntry& stored) const;

    std::filesystem::path folder_;
    std::chrono::milliseconds lockWait_;
    Schema schema_;
    std::map<std::string, StoredEntry, CaseInsensitiveLess> entries_;
    // container -> leaf name -> entry
    std::map<std::string, std::map<std::string, const Entry*, CaseInsensitiveLess>,
             CaseInsensitiveLess>
        children_;
    std::uint64_t snapshotGeneration_ = 0;
    std::optional<Problem> snapshotMayBeCut_;         // without its end line and its last line end
    std::optional<std::uint64_t> journalGeneration_;  // none: empty or without a header
    bool journalFolded_ = false;  // its changes are in the snapshot already (compaction cut short)
    std::uint64_t journalOffset_ = 0;
    int journalLine_ = 1;
    bool journalEndsClean_ = true;
    bool unsynced_ = false;  // appended to the journal since the last sync()
    std::vector<Problem> warnings_;
};

// ---------------------------------------------------------------------------------------------
// Loading

bool FolderStore::loadSnapshot(Problem* problem) {
    entries_.clear();
    children_.clear();
    snapshotGeneration_ = 0;
    std::filesystem::path file = path(kSnapshotFile);
    bool exists = false;
    std::string error;
    auto reader = platform::ReadOnlyFile::Open(file, &exists, &error);
    std::string text;
    if (!reader || !reader->Read(0, platform::kToEnd, text, &error)) {
        *problem = Problem{file, 0, error};
        return false;
    }
    snapshotGeneration_ = readGeneration(text, kSnapshotHeader).value_or(0);
    SnapshotEnd end = readSnapshotEnd(text);
    if (end.endLine == 0 && end.announced) {
        *problem = Problem{file, end.lastLine,
                           "the file ends without the line \"" + std::string(kSnapshotEndLine) +
                               "N entries\" that its line 2 announces: it was cut short"};
        return false;
    }
    if (end.endLine != 0 && !end.counted) {
        *problem = Problem{
            file, end.endLine,
            "damaged end line: expected \"" + std::string(kSnapshotEndLine) + "N entries\""};
        return false;
    }
    if (end.endLine != 0 && end.endLine != end.lastLine) {
        *problem = Problem{file, end.endLine,
                           "lines follow the end line: the file was changed after its compaction "
                           "(if that was meant, move the end line to the end and correct its "
                           "count)"};
        return false;
    }
    std::vector<LdifRecord> records;
    if (!parseLdif(text, file, 1, records, problem)) {
        return false;
    }
    if (end.endLine != 0 && *end.counted != records.size()) {
        *problem = Problem{file, end.endLine,
                           "the end line counts " + std::to_string(*end.counted) +
                               " entries, the file holds " + std::to_string(records.size()) +
                               ": entries were lost (if they were removed on purpose, correct "
                               "the count)"};
        return false;
    }
    std::optional<Problem> mayBeCut;
    if (end.endLine == 0 && !end.endsWithLineEnd) {
        mayBeCut = Problem{file, end.lastLine,
                           "the last line has no line end: the file may have been cut short; "
                           "compaction is refused until the line is ended (check the file "
                           "first)"};
        if (!snapshotMayBeCut_ || snapshotMayBeCut_->describe() != mayBeCut->describe()) {
            warnings_.push_back(*mayBeCut);
        }
    }
    snapshotMayBeCut_ = std::move(mayBeCut);
    std::vector<std::pair<const StoredEntry*, int>> loaded;  // every entry and its line
    for (const LdifRecord& record : records) {
        if (record.kind != RecordKind::Content) {
            *problem = Problem{file, record.line, "change record in the snapshot"};
            return false;
        }
        StoredEntry stored;
        if (!entryFromLdif(record, stored, &error)) {
            *problem = Problem{file, record.line, error};
            return false;
        }
        if (entries_.count(stored.entry.name)) {
            *problem = Problem{file, record.line, "\"" + record.dn + "\" appears twice"};
            return false;
        }
        int line = record.line;
        const StoredEntry* inserted = insert(std::move(stored));
        if (!inserted) {
            *problem = Problem{file, line, "\"" + record.dn + "\" cannot be kept"};
            return false;
        }
        loaded.emplace_back(inserted, line);
    }
    // Containers may come after what they hold: placement is checked once every entry is in.
    ContainerCache cache;
    for (const auto& [stored, line] : loaded) {
        std::string placement = placementError(*stored, &cache);
        if (!placement.empty()) {
            *problem = Problem{file, line, placement};
            return false;
        }
    }
    return true;
}

bool FolderStore::loadAll(bool lockHeld, Problem* problem) {
    if (!loadSnapshot(problem)) {
        return false;
    }
    std::filesystem::path file = path(kJournalFile);
    bool exists = false;
    std::string error;
    auto reader = platform::ReadOnlyFile::Open(file, &exists, &error);
    std::string text;
    if (!reader || !reader->Read(0, platform::kToEnd, text, &error)) {
        *problem = Problem{file, 0, error};
        return false;
    }
    journalGeneration_ = readGeneration(text, kJournalHeader);
    journalFolded_ = false;
    journalOffset_ = 0;
    journalLine_ = 1;
    journalEndsClean_ = true;
    if (journalGeneration_ && *journalGeneration_ > snapshotGeneration_) {
        if (lockHeld) {
            *problem =
                Problem{file, 1,
                        "journal generation " + std::to_string(*journalGeneration_) +
                            " is newer than the snapshot's " + std::to_string(snapshotGeneration_)};
            return false;
        }
        // Another process compacted between the two reads: read both again while it cannot.
        auto lock = platform::AppendLock::Acquire(path(kLockFile), &error, lockWait_);
        if (!lock) {
            *problem = Problem{path(kLockFile), 0, error};
            return false;
        }
        return loadAll(true, problem);
    }
    if (journalGeneration_ && *journalGeneration_ < snapshotGeneration_) {
        journalFolded_ = true;
        journalOffset_ = text.size();
        return true;
    }
    applyJournalText(text, lockHeld);
    return true;
}

Status FolderStore::refreshJournal(bool lockHeld) {
    std::filesystem::path file = path(kJournalFile);
    bool exists = false;
    std::string error;
    auto reader = platform::ReadOnlyFile::Open(file, &exists, &error);
    std::string head;
    if (!reader || !reader->Read(0, kGenerationLineBytes, head, &error)) {
        return kIoError;
    }
    std::optional<std::uint64_t> generation = readGeneration(head, kJournalHeader);
    bool firstRecordsOfEmptyJournal =
        !journalGeneration_ && journalOffset_ == 0 && generation == snapshotGeneration_;
    std::string tail;
    if (!reader->Read(journalOffset_, platform::kToEnd, tail, &error)) {
        return kIoError;
    }
    if (generation != journalGeneration_ && !firstRecordsOfEmptyJournal) {
        // Compacted by another process: start again from the new snapshot.
        Problem problem;
        if (!loadAll(lockHeld, &problem)) {
            warnings_.push_back(problem);
            return kCorrupt;
        }
        return kOk;
    }
    journalGeneration_ = generation;
    if (journalFolded_) {
        return kOk;
    }
    applyJournalText(tail, lockHeld);
    return kOk;
}

void FolderStore::applyJournalText(std::string_view text, bool lockHeld) {
    JournalScan scan = scanJournal(text, journalLine_, lockHeld);
    std::filesystem::path file = path(kJournalFile);
    for (const ScannedRecord& record : scan.records) {
        applyJournalRecord(record.body, record.line);
    }
    for (int line : scan.tornLines) {
        warn(file, line, "torn record skipped (its writer stopped in the middle)");
    }
    journalOffset_ += scan.consumed;
    journalLine_ += scan.consumedLines;
    if (scan.consumed > 0 || !text.empty()) {
        journalEndsClean_ = scan.endsClean;
    }
    if (scan.pendingTail && !lockHeld) {
        // Either being written this moment or torn: under the lock nobody is writing. A reader
        // never waits for the lock: when it is busy, the tail waits for the next refresh.
        std::string error;
        bool busy = false;
        auto lock = platform::AppendLock::TryAcquire(path(kLockFile), &busy, &error);
        if (lock) {
            refreshJournal(true);
        }
    }
}

void FolderStore::applyJournalRecord(std::string_view body, int line) {
    std::filesystem::path file = path(kJournalFile);
    std::vector<LdifRecord> records;
    Problem problem;
    if (!parseLdif(body, file, line, records, &problem)) {
        warnings_.push_back(problem);
        return;
    }
    for (const LdifRecord& record : records) {
        if (record.kind == RecordKind::Modify) {
            std::vector<Rdn> rdns;
            std::string error;
            if (!parseDn(record.dn, rdns, &error)) {
                warn(file, record.line, "record skipped: " + error);
                continue;
            }
            auto found = entries_.find(typelessFromRdns(rdns));
            if (found == entries_.end()) {
                warn(file, record.line, "record skipped: no entry \"" + record.dn + "\"");
                continue;
            }
            StoredEntry working = found->second;
            Status status = kOk;
            for (const LdifMod& mod : record.mods) {
                status = applyMod(working, mod);
                if (status != kOk) {
                    warn(file, mod.line,
                         "record skipped: the change of \"" + mod.attribute +
                             "\" does not apply (status " + std::to_string(status) + ")");
                    break;
                }
            }
            if (status == kOk) {
                found->second = std::move(working);
            }
        } else {
            StoredEntry stored;
            std::string error;
            if (!entryFromLdif(record, stored, &error)) {
                warn(file, record.line, "record skipped: " + error);
            } else if (entries_.count(stored.entry.name)) {
                warn(file, record.line, "record skipped: \"" + record.dn + "\" exists already");
            } else if (std::string placement = placementError(stored); !placement.empty()) {
                warn(file, record.line, "record skipped: " + placement);
            } else {
                insert(std::move(stored));
            }
        }
    }
}

// Under the append lock: reads what others appended, and finishes a compaction that stopped
// after the new snapshot was in place but before the new journal was.
//
// Such a compaction leaves the journal's generation as it was, so a view loaded before it would
// see nothing new in the journal and append to it, where no reader looks any more (its
// generation is older than the snapshot's). The snapshot's own generation line tells: when it
// moved, the view starts again from the files as they are.
Status FolderStore::catchUpUnderLock() {
    std::filesystem::path file = path(kSnapshotFile);
    bool exists = false;
    std::string error;
    auto reader = platform::ReadOnlyFile::Open(file, &exists, &error);
    std::string head;
    if (!reader || !reader->Read(0, kGenerationLineBytes, head, &error)) {
        warn(file, 0, error);
        return kIoError;
    }
    if (readGeneration(head, kSnapshotHeader).value_or(0) != snapshotGeneration_) {
        Problem problem;
        if (!loadAll(true, &problem)) {
            warnings_.push_back(problem);
            return kCorrupt;
        }
    } else {
        Status status = refreshJournal(true);
        if (status != kOk) {
            return status;
        }
    }
    return journalFolded_ ? startFreshJournal() : kOk;
}

// Every change starts here: under the append lock, checked against and appended after all that
// other processes appended before it.
Status FolderStore::lockAndCatchUp(std::optional<platform::AppendLock>& lock) {
    std::string error;
    bool busy = false;
    lock = platform::AppendLock::Acquire(path(kLockFile), &error, lockWait_, &busy);
    if (!lock) {
        warn(path(kLockFile), 0, error);
        return busy ? kLocked : kIoError;
    }
    return catchUpUnderLock();
}

Status FolderStore::startFreshJournal() {
    std::string header = generationLine(kJournalHeader, snapshotGeneration_);
    std::string error;
    if (!platform::WriteFileDurably(temporary(kJournalFile), header, &error) ||
        !platform::ReplaceFileDurably(temporary(kJournalFile), path(kJournalFile), &error)) {
        warn(path(kJournalFile), 0, error);
        return kIoError;
    }
    journalGeneration_ = snapshotGeneration_;
    journalFolded_ = false;
    journalOffset_ = header.size();
    journalLine_ = 2;
    journalEndsClean_ = true;
    return kOk;
}

// ---------------------------------------------------------------------------------------------
// Entries and values

const StoredEntry* FolderStore::insert(StoredEntry stored) {
    std::string name = stored.entry.name;
    auto [it, added] = entries_.emplace(name, std::move(stored));
    if (!added) {
        return nullptr;
    }
    std::vector<std::string> parts;
    if (!splitTypeless(name, parts)) {
        entries_.erase(it);  // cannot come from a parsed DN, whose parts are never empty
        return nullptr;
    }
    children_[parentName(name)][parts.front()] = &it->second.entry;
    return &it->second;
}

// Why the entry cannot stand where its name puts it, or "" when it can: its container must be
// held and of a class that may hold the entry's class; without a container, the class must live
// at the top of the tree.
std::string FolderStore::placementError(const StoredEntry& stored, ContainerCache* cache) const {
    const ClassDef* objectClass = schema_.objectClass(stored.entry.objectClass);
    if (!objectClass) {
        return "unknown object class \"" + stored.entry.objectClass + "\"";
    }
    std::string parent = parentName(stored.entry.name);
    const ClassDef* containerClass = nullptr;
    if (!parent.empty()) {
        const StoredEntry* container = nullptr;
        if (cache && equalsIgnoreCase(cache->name, parent)) {
            container = cache->entry;
        } else {
            auto found = entries_.find(parent);
            container = found == entries_.end() ? nullptr : &found->second;
            if (cache) {
                *cache = ContainerCache{std::move(parent), container};
            }
        }
        if (!container) {
            return "the container of \"" + stored.dn + "\" does not exist";
        }
        containerClass = schema_.objectClass(container->entry.objectClass);
    }
    if (schema_.mayContain(containerClass, *objectClass)) {
        return {};
    }
    if (!containerClass) {
        return "\"" + stored.dn + "\": a " + objectClass->name +
               " cannot stand at the top of the tree";
    }
    return "\"" + stored.dn + "\": a " + containerClass->name + " cannot hold a " +
           objectClass->name;
}

bool FolderStore::entryFromLdif(const LdifRecord& record, StoredEntry& out,
                                std::string* error) const {
    std::vector<Rdn> rdns;
    if (!parseDn(record.dn, rdns, error) || rdns.empty()) {
        return false;
    }
    out.dn = formatDn(rdns);
    out.entry.name = typelessFromRdns(rdns);
    std::vector<std::string>& classNames = out.entry.attributes[std::string(kObjectClass)];
    for (const LdifValue& value : record.values) {
        if (equalsIgnoreCase(value.attribute, "objectClass")) {
            const ClassDef* known = schema_.classByLdapName(value.value);
            classNames.push_back(known ? known->name : value.value);
            continue;
        }
        const AttributeDef* def = schema_.attributeByLdapName(value.attribute);
        if (!def) {
            out.foreign.push_back(value);
            continue;
        }
        std::string stored;
        if (toStoredValue(*def, value.value, stored) != kOk) {
            *error = "bad value of \"" + value.attribute + "\" (line " +
                     std::to_string(value.line) + ")";
            return false;
        }
        std::vector<std::string>& values = out.entry.attributes[def->name];
        if (holdsValue(*def, values, stored)) {
            *error = "\"" + value.attribute + "\" holds the value \"" + value.value + "\" twice";
            return false;
        }
        values.push_back(std::move(stored));
        if (def->singleValued && values.size() > 1) {
            *error = "\"" + value.attribute + "\" holds a single value, found more";
            return false;
        }
    }
    if (classNames.empty()) {
        *error = "entry without objectClass";
        return false;
    }
    for (const std::string& name : classNames) {
        if (!equalsIgnoreCase(name, "Top")) {
            out.entry.objectClass = name;
            if (schema_.objectClass(name)) {
                break;
            }
        }
    }
    if (out.entry.objectClass.empty()) {
        out.entry.objectClass = classNames.front();
    }
    if (!schema_.objectClass(out.entry.objectClass)) {
        *error = "unknown object class \"" + out.entry.objectClass + "\"";
        return false;
    }
    // The naming value belongs to the entry even when the record leaves it to the DN.
    const AttributeDef* naming = schema_.attributeByLdapName(rdns.front().type);
    if (naming) {
        std::vector<std::string>& values = out.entry.attributes[naming->name];
        bool present = std::any_of(values.begin(), values.end(), [&](const std::string& v) {
            return equalsIgnoreCase(v, rdns.front().value);
        });
        if (!present) {
            values.insert(values.begin(), rdns.front().value);
        }
    }
    return true;
}

Status FolderStore::toStoredValue(const AttributeDef& def, std::string_view ldif,
                                  std::string& out) const {
    switch (def.syntax) {
        case 1: {
            std::vector<Rdn> rdns;
            if (!parseDn(ldif, rdns, nullptr)) {
                return kBadSyntax;
            }
            out = typelessFromRdns(rdns);
            return kOk;
        }
        case 7:
            if (ldif != "TRUE" && ldif != "FALSE") {
                return kBadSyntax;
            }
            out = std::string(ldif);
            return kOk;
        case 8:
        case 22:
            return canonicalInteger(ldif, out);
        case 20: {
            const ClassDef* known = schema_.classByLdapName(ldif);
            out = known ? known->name : std::string(ldif);
            return kOk;
        }
        default:
            out = std::string(ldif);
            return kOk;
    }
}

Status FolderStore::toLdifValue(const AttributeDef& def, std::string_view value,
                                std::string& out) const {
    switch (def.syntax) {
        case 1: {
            std::vector<std::string> parts;
            if (!splitTypeless(value, parts)) {
                return kBadSyntax;
            }
            out = dnOf(value);
            return kOk;
        }
        case 3:
            if (value.empty()) {
                return kBadSyntax;
            }
            out = std::string(value);
            return kOk;
        case 7:
            if (equalsIgnoreCase(value, "TRUE")) {
                out = "TRUE";
            } else if (equalsIgnoreCase(value, "FALSE")) {
                out = "FALSE";
            } else {
                return kBadSyntax;
            }
            return kOk;
        case 8:
        case 22:
            return canonicalInteger(value, out);
        case 20: {
            const ClassDef* known = schema_.objectClass(value);
            out = known ? known->ldapName : std::string(value);
            return kOk;
        }
        default:
            out = std::string(value);
            return kOk;
    }
}

// The DN of a typeless name: the stored DN of the entry or of its nearest stored container;
// parts above that are named as the tree is built: a leaf by cn, the top by o, the rest by ou.
std::string FolderStore::dnOf(std::string_view fullName) const {
    std::vector<std::string> parts;
    splitTypeless(fullName, parts);
    std::vector<Rdn> rdns;
    std::string suffix;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::vector<std::string> rest(parts.begin() + static_cast<std::ptrdiff_t>(i), parts.end());
        auto found = entries_.find(joinTypeless(rest));
        if (found != entries_.end()) {
            suffix = found->second.dn;
            break;
        }
        const char* type = (i + 1 == parts.size()) ? "o" : (i == 0 ? "cn" : "ou");
        rdns.push_back({type, parts[i]});
    }
    std::string dn = formatDn(rdns);
    if (!suffix.empty()) {
        dn += dn.empty() ? suffix : "," + suffix;
    }
    return dn;
}

// Applies one LDIF modification as an LDAP server would, so that the journal replayed here and
// by ldapmodify ends in the same values.
Status FolderStore::applyMod(StoredEntry& stored, const LdifMod& mod) const {
    const AttributeDef* def = schema_.attributeByLdapName(mod.attribute);
    if (!def) {
        return kNoSuchAttribute;
    }
    const ClassDef* objectClass = schema_.objectClass(stored.entry.objectClass);
    if (!objectClass) {
        return kNoSuchClass;
    }
    const AttributeDef* naming = schema_.namingAttribute(*objectClass);
    if (!schema_.allows(*objectClass, def->name) || def == naming || def->name == kObjectClass) {
        return kIllegalAttribute;
    }
    std::vector<std::string> values;
    for (const std::string& ldif : mod.values) {
        std::string value;
        if (toStoredValue(*def, ldif, value) != kOk) {
            return kBadSyntax;
        }
        values.push_back(std::move(value));
    }
    AttributeMap& attributes = stored.entry.attributes;
    auto found = attributes.find(def->name);
    switch (mod.op) {
        case ModOp::Add:
            return setJoined(*def,
                             found == attributes.end() ? std::vector<std::string>{} : found->second,
                             values, attributes);
        case ModOp::Replace:
            if (values.empty()) {
                if (found != attributes.end()) {
                    attributes.erase(found);
                }
                return kOk;
            }
            return setJoined(*def, {}, values, attributes);
        case ModOp::Delete: {
            if (found == attributes.end()) {
                return kNoSuchAttribute;
            }
            if (values.empty()) {
                attributes.erase(found);
                return kOk;
            }
            std::vector<std::string>& current = found->second;
            for (const std::string& value : values) {
                auto at = std::find_if(current.begin(), current.end(), [&](const std::string& v) {
                    return sameValue(*def, v, value);
                });
                if (at == current.end()) {
                    return kNoSuchValue;
                }
                current.erase(at);
            }
            if (current.empty()) {
                attributes.erase(found);
            }
            return kOk;
        }
        case ModOp::Increment: {
            if (!isIntegerSyntax(def->syntax)) {
                return kBadSyntax;
            }
            if (found == attributes.end()) {
                return kNoSuchAttribute;
            }
            std::int32_t amount = 0;
            parseInt32(values.front(), amount);
            for (std::string& value : found->second) {
                std::int32_t current = 0;
                parseInt32(value, current);
                std::int64_t sum = std::int64_t{current} + amount;
                if (sum < std::numeric_limits<std::int32_t>::min() ||
                    sum > std::numeric_limits<std::int32_t>::max()) {
                    return kBadSyntax;  // the amount would not fit the 32 bits callers read
                }
                value = std::to_string(sum);
            }
            return kOk;
        }
    }
    return kBadSyntax;
}

Status FolderStore::planChange(StoredEntry& working, const Change& change,
                               std::vector<LdifMod>& mods) const {
    const AttributeDef* def = schema_.attribute(change.attribute);
    if (!def) {
        return kNoSuchAttribute;
    }
    bool present = working.entry.attributes.count(def->name) > 0;
    LdifMod mod;
    mod.attribute = def->ldapName;
    if (change.kind == ChangeKind::Clear) {
        if (!present) {
            return kOk;  // nothing to clear; an LDAP server would refuse the delete
        }
        mod.op = ModOp::Delete;
    } else {
        std::string value;
        Status status = toLdifValue(*def, change.value, value);
        if (status != kOk) {
            return status;
        }
        mod.values.push_back(std::move(value));
        if (change.kind == ChangeKind::Overwrite) {
            mod.op = ModOp::Replace;
        } else if (def->syntax == 22 && present) {
            mod.op = ModOp::Increment;
        } else {
            mod.op = ModOp::Add;  // a counter not yet held starts from the amount added
        }
    }
    Status status = applyMod(working, mod);
    if (status != kOk) {
        return status;
    }
    mods.push_back(std::move(mod));
    return kOk;
}

// ---------------------------------------------------------------------------------------------
// Changes

Status FolderStore::appendRecord(const std::string& body) {
    std::error_code ignored;
    if (journalOffset_ == 0 && !std::filesystem::exists(path(kJournalFile), ignored)) {
        // The first change in a folder without a journal: create it durably, folder entry
        // included, so that sync() has only the file's contents to flush.
        Status status = startFreshJournal();
        if (status != kOk) {
            return status;
        }
    }
    std::string bytes;
    if (journalOffset_ == 0) {
        bytes = generationLine(kJournalHeader, snapshotGeneration_);
    } else if (!journalEndsClean_) {
        bytes = "\n\n";  // so that torn bytes before it can never run into this record
    }
    bytes += frameRecord(body);
    std::string error;
    if (!platform::AppendToFile(path(kJournalFile), bytes, &error)) {
        warn(path(kJournalFile), journalLine_, error);
        return kIoError;
    }
    if (journalOffset_ == 0) {
        journalGeneration_ = snapshotGeneration_;
    }
    journalOffset_ += bytes.size();
    journalLine_ += static_cast<int>(std::count(bytes.begin(), bytes.end(), '\n'));
    journalEndsClean_ = true;
    unsynced_ = true;
    return kOk;
}

Status FolderStore::sync() {
    if (!unsynced_) {
        return kOk;
    }
    // Whatever compacted the journal since has flushed these records with its snapshot; the
    // journal flushed here then is the new one, which does no harm.
    std::string error;
    if (!platform::FlushFileToDisk(path(kJournalFile), &error)) {
        warn(path(kJournalFile), 0, error);
        return kIoError;
    }
    unsynced_ = false;
    return kOk;
}

Status FolderStore::modify(std::string_view name, const std::vector<Change>& changes) {
    // Callers pass the name of an entry of this view, which catching up may replace.
    const std::string fullName(name);
    std::optional<platform::AppendLock> lock;
    Status status = lockAndCatchUp(lock);
    if (status != kOk) {
        return status;
    }
    auto found = entries_.find(fullName);
    if (found == entries_.end()) {
        return kNoSuchEntry;
    }
    StoredEntry working = found->second;
    std::vector<LdifMod> mods;
    for (const Change& change : changes) {
        status = planChange(working, change, mods);
        if (status != kOk) {
            return status;
        }
    }
    if (mods.empty()) {
        return kOk;
    }
    LdifRecord record;
    record.kind = RecordKind::Modify;
    record.dn = working.dn;
    record.mods = std::move(mods);
    status = appendRecord(formatLdifRecord(record));
    if (status == kOk) {
        found->second = std::move(working);
    }
    return status;
}

Status FolderStore::addEntry(const Entry& entry) {
    std::vector<std::string> parts;
    if (!splitTypeless(entry.name, parts)) {
        return kIllegalName;
    }
    const ClassDef* objectClass = schema_.objectClass(entry.objectClass);
    const AttributeDef* naming = objectClass ? schema_.namingAttribute(*objectClass) : nullptr;
    if (!naming) {
        return kNoSuchClass;
    }
    std::optional<platform::AppendLock> lock;
    Status status = lockAndCatchUp(lock);
    if (status != kOk) {
        return status;
    }
    if (entries_.count(entry.name)) {
        return kEntryExists;
    }
    std::string parent = parentName(entry.name);
    const StoredEntry* container = nullptr;
    if (!parent.empty()) {
        auto found = entries_.find(parent);
        if (found == entries_.end()) {
            return kNoSuchEntry;
        }
        container = &found->second;
    }
    if (!schema_.mayContain(container ? schema_.objectClass(container->entry.objectClass) : nullptr,
                            *objectClass)) {
        return kIllegalContainment;
    }
    LdifRecord record;
    record.kind = RecordKind::Add;
    record.dn = formatRdn({naming->ldapName, parts.front()});
    if (container) {
        record.dn += "," + container->dn;
    }
    record.values.push_back({"objectClass", objectClass->ldapName, 0});
    record.values.push_back({naming->ldapName, parts.front(), 0});
    for (const auto& [name, values] : entry.attributes) {
        const AttributeDef* def = schema_.attribute(name);
        if (!def) {
            return kNoSuchAttribute;
        }
        if (def == naming || def->name == kObjectClass) {
            continue;
        }
        if (!schema_.allows(*objectClass, def->name)) {
            return kIllegalAttribute;
        }
        for (const std::string& value : values) {
            std::string ldif;
            status = toLdifValue(*def, value, ldif);
            if (status != kOk) {
                return status;
            }
            record.values.push_back({def->ldapName, ldif, 0});
        }
    }
    status = checkValueCounts(record);
    if (status != kOk) {
        return status;
    }
    StoredEntry stored;
    std::string error;
    if (!entryFromLdif(record, stored, &error)) {
        return kBadSyntax;
    }
    status = appendRecord(formatLdifRecord(record));
    if (status == kOk) {
        insert(std::move(stored));
    }
    return status;
}

Status FolderStore::checkValueCounts(const LdifRecord& record) const {
    std::map<std::string, std::vector<std::string>, CaseInsensitiveLess> seen;
    for (const LdifValue& value : record.values) {
        const AttributeDef* def = schema_.attributeByLdapName(value.attribute);
        std::vector<std::string>& values = seen[value.attribute];
        if (def && holdsValue(*def, values, value.value)) {
            return kDuplicateValue;
        }
        values.push_back(value.value);
        if (def && def->singleValued && values.size() > 1) {
            return kSingleValued;
        }
    }
    return kOk;
}

// ---------------------------------------------------------------------------------------------
// Compaction

void FolderStore::writeEntry(std::string& out, const StoredEntry& stored) const {
    writeLdifLine(out, "dn", stored.dn);
    const AttributeMap& attributes = stored.entry.attributes;
    auto classes = attributes.find(kObjectClass);
    if (classes != attributes.end()) {
        const AttributeDef* def = schema_.attribute(kObjectClass);
        for (const std::string& value : classes->second) {
            std::string ldif;
            toLdifValue(*def, value, ldif);
            writeLdifLine(out, "objectClass", ldif);
        }
    }
    for (const auto& [name, values] : attributes) {
        const AttributeDef* def = schema_.attribute(name);
        if (!def || def->name == kObjectClass) {
            continue;
        }
        for (const std::string& value : values) {
            std::string ldif;
            toLdifValue(*def, value, ldif);
            writeLdifLine(out, def->ldapName, ldif);
        }
    }
    for (const LdifValue& value : stored.foreign) {
        writeLdifLine(out, value.attribute, value.value);
    }
    out += '\n';
}

std::string FolderStore::snapshotText(std::uint64_t generation, std::string_view entries,
                                      std::size_t count) const {
    return generationLine(kSnapshotHeader, generation) + std::string(kSnapshotEndNote) + "\n\n" +
           std::string(entries) + std::string(kSnapshotEndLine) + std::to_string(count) +
           " entries\n";
}

std::string FolderStore::entriesText(std::size_t* count) const {
    std::string out;
    std::size_t records = 0;
    // Containers before what they hold, as LDAP loaders require.
    std::set<std::string, CaseInsensitiveLess> written;
    std::vector<std::string> pending;
    std::vector<std::string> roots;
    for (const auto& [container, members] : children_) {
        if (container.empty() || !entries_.count(container)) {
            roots.push_back(container);
        }
    }
    std::stable_sort(roots.begin(), roots.end(), [](const std::string& a, const std::string& b) {
        return std::count(a.begin(), a.end(), '.') < std::count(b.begin(), b.end(), '.');
    });
    for (const std::string& root : roots) {
        pending.push_back(root);
        while (!pending.empty()) {
            std::string container = std::move(pending.back());
            pending.pop_back();
            auto members = children_.find(container);
            if (members == children_.end()) {
                continue;
            }
            std::vector<std::string> next;
            for (const auto& [leaf, entry] : members->second) {
                if (written.insert(entry->name).second) {
                    writeEntry(out, entries_.find(entry->name)->second);
                    ++records;
                    next.push_back(entry->name);
                }
            }
            pending.insert(pending.end(), next.rbegin(), next.rend());
        }
    }
    if (count) {
        *count = records;
    }
    return out;
}

// A compaction must never write back less than it read: the snapshot on disk may hold more than
// this view (replaced by hand since it was loaded), or have been loaded from a file that was cut.
Status FolderStore::checkNothingIsLost(std::size_t count) {
    std::filesystem::path file = path(kSnapshotFile);
    if (snapshotMayBeCut_) {
        warn(file, snapshotMayBeCut_->line,
             "compaction refused: " +
                 snapshotMayBeCut_->message.substr(0, snapshotMayBeCut_->message.find(';')));
        return kCorrupt;
    }
    bool exists = false;
    std::string error;
    auto reader = platform::ReadOnlyFile::Open(file, &exists, &error);
    std::string text;
    if (!reader || !reader->Read(0, platform::kToEnd, text, &error)) {
        warn(file, 0, error);
        return kIoError;
    }
    std::size_t held = countRecordStarts(text);
    if (count < held) {
        warn(file, 0,
             "compaction refused: it would write " + std::to_string(count) +
                 " entries, the snapshot holds " + std::to_string(held));
        return kCorrupt;
    }
    return kOk;
}

// A journal written by hand may lack its generation line. Left so beside the snapshot of a
// compaction that stopped before its second rename, its records (in that snapshot already)
// would be applied a second time; with the line, the journal is older than the snapshot.
Status FolderStore::giveJournalItsGeneration() {
    std::string text;
    std::string error;
    std::string header = generationLine(kJournalHeader, snapshotGeneration_);
    if (!platform::ReadWholeFile(path(kJournalFile), text, &error) ||
        !platform::WriteFileDurably(temporary(kJournalFile), header + text, &error) ||
        !platform::ReplaceFileDurably(temporary(kJournalFile), path(kJournalFile), &error)) {
        warn(path(kJournalFile), 0, error);
        return kIoError;
    }
    journalGeneration_ = snapshotGeneration_;
    journalOffset_ += header.size();
    journalLine_ += 1;
    return kOk;
}

Status FolderStore::compact() {
    std::optional<platform::AppendLock> lock;
    Status status = lockAndCatchUp(lock);
    if (status != kOk) {
        return status;
    }
    if (!journalGeneration_ && journalOffset_ > 0) {
        status = giveJournalItsGeneration();
        if (status != kOk) {
            return status;
        }
    }
    std::size_t count = 0;
    std::string entries = entriesText(&count);
    status = checkNothingIsLost(count);
    if (status != kOk) {
        return status;
    }
    std::uint64_t generation = std::max(snapshotGeneration_, journalGeneration_.value_or(0)) + 1;
    std::string error;
    std::string journalHeader = generationLine(kJournalHeader, generation);
    // Each step leaves a state that a reader takes for what it is: before the snapshot's rename
    // the old files stand; after it the new snapshot holds every change and the old journal,
    // older than the snapshot, is ignored until a writer starts a new one.
    if (!platform::WriteFileDurably(temporary(kSnapshotFile),
                                    snapshotText(generation, entries, count), &error) ||
        !platform::WriteFileDurably(temporary(kJournalFile), journalHeader, &error) ||
        !platform::ReplaceFileDurably(temporary(kSnapshotFile), path(kSnapshotFile), &error)) {
        warn(path(kSnapshotFile), 0, error);
        return kIoError;
    }
    snapshotGeneration_ = generation;
    journalFolded_ = true;
    if (!platform::ReplaceFileDurably(temporary(kJournalFile), path(kJournalFile), &error)) {
        warn(path(kJournalFile), 0, error);
        return kIoError;
    }
    journalGeneration_ = generation;
    journalFolded_ = false;
    journalOffset_ = journalHeader.size();
    journalLine_ = 2;
    journalEndsClean_ = true;
    unsynced_ = false;  // what this store appended is in the snapshot, flushed to the disk
    return kOk;
}

}  // namespace

std::unique_ptr<Store> Store::open(const std::filesystem::path& folder, Problem* problem,
                                   std::chrono::milliseconds lockWait) {
    auto store = std::make_unique<FolderStore>(folder, lockWait);
    Problem local;
    if (!store->load(problem ? problem : &local)) {
        return nullptr;
    }
    return store;
}

bool exportLdif(const std::filesystem::path& folder, std::string& out, Problem* problem,
                std::vector<Problem>* warnings) {
    FolderStore store(folder, kDefaultLockWait);
    Problem local;
    bool loaded = store.load(problem ? problem : &local);
    if (warnings) {
        *warnings = store.warnings();
    }
    if (loaded) {
        out = store.entriesText();
    }
    return loaded;
}

}  // namespace tally::store
