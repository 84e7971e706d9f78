// The store over one folder: the snapshot and the journal are read into memory; every change
// is appended to the journal under the append lock, after the view has caught up with what
// other processes appended, so the journal's order is the order in which changes apply.
#include <algorithm>
#include <charconv>
#include <limits>
#include <set>

#include "dirstore/entry_mapping.h"
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
constexpr std::string_view kObjectClass = kObjectClassAttribute;

// What the end of a snapshot says about whether it is whole.
struct SnapshotEnd {
    int endLine = 0;                     // line of "# end of snapshot: N entries"; 0: none
    std::optional<std::size_t> counted;  // its N, when it is well formed
    bool announced = false;              // line 2 announces the end line
    int lastLine = 0;                    // the last line that is not blank
    bool endsWithLineEnd = true;
};

SnapshotEnd ReadSnapshotEnd(std::string_view text) {
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
std::size_t CountRecordStarts(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < text.size(); ++pos) {
        if ((pos == 0 || text[pos - 1] == '\n' || text[pos - 1] == '\r') &&
            pos + 3 <= text.size() && EqualsIgnoreCase(text.substr(pos, 3), "dn:")) {
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

    bool Load(Problem* problem) {
        if (!schema_.Load(folder_ / kSchemaFile, problem)) {
            return false;
        }
        return LoadAll(false, problem);
    }

    Status Refresh() override { return RefreshJournal(false); }

    const Entry* Find(std::string_view fullName) const override {
        auto found = entries_.find(fullName);
        return found == entries_.end() ? nullptr : &found->second.entry;
    }

    std::vector<const Entry*> Children(std::string_view container) const override {
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

    const AttributeDef* Attribute(std::string_view name) const override {
        return schema_.Attribute(name);
    }
    const std::vector<AttributeDef>& Attributes() const override { return schema_.Attributes(); }
    const ClassDef* ObjectClass(std::string_view name) const override {
        return schema_.ObjectClass(name);
    }
    const std::vector<ClassDef>& Classes() const override { return schema_.Classes(); }

    Status Modify(std::string_view fullName, const std::vector<Change>& changes) override;
    Status AddEntry(const Entry& entry) override;
    Status Compact() override;
    Status Sync() override;

    const std::vector<Problem>& Warnings() const override { return warnings_; }

    // Every object as an LDIF content record, containers first; `count` (if given) receives
    // the number of records.
    std::string EntriesText(std::size_t* count = nullptr) const;

  private:
    std::filesystem::path Path(const char* name) const { return folder_ / name; }
    std::filesystem::path Temporary(const char* name) const {
        return folder_ / (std::string(name) + kTemporarySuffix);
    }

    void Warn(const std::filesystem::path& file, int line, std::string message) {
        warnings_.push_back(Problem{file, line, std::move(message)});
    }

    // Loading and catching up.
    bool LoadAll(bool lockHeld, Problem* problem);
    bool LoadSnapshot(Problem* problem);
    Status RefreshJournal(bool lockHeld);
    void ApplyJournalText(std::string_view text, bool lockHeld);
    void ApplyJournalRecord(std::string_view body, int line);
    Status CatchUpUnderLock();
    Status LockAndCatchUp(std::optional<platform::AppendLock>& lock);
    Status StartFreshJournal();
    Status GiveJournalItsGeneration();

    // Entries and values.
    bool EntryFromLdif(const LdifRecord& record, StoredEntry& out, std::string* error) const;
    const StoredEntry* Insert(StoredEntry stored);
    // The container last looked up, for checking many entries of one container in a row.
    struct ContainerCache {
        std::string name;
        const StoredEntry* entry = nullptr;
    };
    std::string PlacementError(const StoredEntry& stored, ContainerCache* cache = nullptr) const;
    Status ToLdifValue(const AttributeDef& def, std::string_view value, std::string& out) const;
    std::string DnOf(std::string_view fullName) const;
    Status ApplyMod(StoredEntry& stored, const LdifMod& mod) const;
    Status PlanChange(StoredEntry& working, const Change& change, std::vector<LdifMod>& mods) const;
    Status AppendRecord(const std::string& body);
    Status CheckValueCounts(const LdifRecord& record) const;
    std::string SnapshotText(std::uint64_t generation, std::string_view entries,
                             std::size_t count) const;
    Status CheckNothingIsLost(std::size_t count);
    void WriteEntry(std::string& out, const StoredEntry& stored) const;

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
    bool unsynced_ = false;  // appended to the journal since the last Sync()
    std::vector<Problem> warnings_;
};

// ---------------------------------------------------------------------------------------------
// Loading

bool FolderStore::LoadSnapshot(Problem* problem) {
    entries_.clear();
    children_.clear();
    snapshotGeneration_ = 0;
    std::filesystem::path file = Path(kSnapshotFile);
    bool exists = false;
    std::string error;
    auto reader = platform::ReadOnlyFile::Open(file, &exists, &error);
    std::string text;
    if (!reader || !reader->Read(0, platform::kToEnd, text, &error)) {
        *problem = Problem{file, 0, error};
        return false;
    }
    snapshotGeneration_ = ReadGeneration(text, kSnapshotHeader).value_or(0);
    SnapshotEnd end = ReadSnapshotEnd(text);
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
    if (!ParseLdif(text, file, 1, records, problem)) {
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
        if (!snapshotMayBeCut_ || snapshotMayBeCut_->Describe() != mayBeCut->Describe()) {
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
        if (!EntryFromLdif(record, stored, &error)) {
            *problem = Problem{file, record.line, error};
            return false;
        }
        if (entries_.count(stored.entry.name)) {
            *problem = Problem{file, record.line, "\"" + record.dn + "\" appears twice"};
            return false;
        }
        int line = record.line;
        const StoredEntry* inserted = Insert(std::move(stored));
        if (!inserted) {
            *problem = Problem{file, line, "\"" + record.dn + "\" cannot be kept"};
            return false;
        }
        loaded.emplace_back(inserted, line);
    }
    // Containers may come after what they hold: placement is checked once every entry is in.
    ContainerCache cache;
    for (const auto& [stored, line] : loaded) {
        std::string placement = PlacementError(*stored, &cache);
        if (!placement.empty()) {
            *problem = Problem{file, line, placement};
            return false;
        }
    }
    return true;
}

bool FolderStore::LoadAll(bool lockHeld, Problem* problem) {
    if (!LoadSnapshot(problem)) {
        return false;
    }
    std::filesystem::path file = Path(kJournalFile);
    bool exists = false;
    std::string error;
    auto reader = platform::ReadOnlyFile::Open(file, &exists, &error);
    std::string text;
    if (!reader || !reader->Read(0, platform::kToEnd, text, &error)) {
        *problem = Problem{file, 0, error};
        return false;
    }
    journalGeneration_ = ReadGeneration(text, kJournalHeader);
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
        auto lock = platform::AppendLock::Acquire(Path(kLockFile), &error, lockWait_);
        if (!lock) {
            *problem = Problem{Path(kLockFile), 0, error};
            return false;
        }
        return LoadAll(true, problem);
    }
    if (journalGeneration_ && *journalGeneration_ < snapshotGeneration_) {
        journalFolded_ = true;
        journalOffset_ = text.size();
        return true;
    }
    ApplyJournalText(text, lockHeld);
    return true;
}

Status FolderStore::RefreshJournal(bool lockHeld) {
    std::filesystem::path file = Path(kJournalFile);
    bool exists = false;
    std::string error;
    auto reader = platform::ReadOnlyFile::Open(file, &exists, &error);
    std::string head;
    if (!reader || !reader->Read(0, kGenerationLineBytes, head, &error)) {
        return kIoError;
    }
    std::optional<std::uint64_t> generation = ReadGeneration(head, kJournalHeader);
    bool firstRecordsOfEmptyJournal =
        !journalGeneration_ && journalOffset_ == 0 && generation == snapshotGeneration_;
    std::string tail;
    if (!reader->Read(journalOffset_, platform::kToEnd, tail, &error)) {
        return kIoError;
    }
    if (generation != journalGeneration_ && !firstRecordsOfEmptyJournal) {
        // Compacted by another process: start again from the new snapshot.
        Problem problem;
        if (!LoadAll(lockHeld, &problem)) {
            warnings_.push_back(problem);
            return kCorrupt;
        }
        return kOk;
    }
    journalGeneration_ = generation;
    if (journalFolded_) {
        return kOk;
    }
    ApplyJournalText(tail, lockHeld);
    return kOk;
}

void FolderStore::ApplyJournalText(std::string_view text, bool lockHeld) {
    JournalScan scan = ScanJournal(text, journalLine_, lockHeld);
    std::filesystem::path file = Path(kJournalFile);
    for (const ScannedRecord& record : scan.records) {
        ApplyJournalRecord(record.body, record.line);
    }
    for (int line : scan.tornLines) {
        Warn(file, line, "torn record skipped (its writer stopped in the middle)");
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
        auto lock = platform::AppendLock::TryAcquire(Path(kLockFile), &busy, &error);
        if (lock) {
            RefreshJournal(true);
        }
    }
}

void FolderStore::ApplyJournalRecord(std::string_view body, int line) {
    std::filesystem::path file = Path(kJournalFile);
    std::vector<LdifRecord> records;
    Problem problem;
    if (!ParseLdif(body, file, line, records, &problem)) {
        warnings_.push_back(problem);
        return;
    }
    for (const LdifRecord& record : records) {
        if (record.kind == RecordKind::Modify) {
            std::vector<Rdn> rdns;
            std::string error;
            if (!ParseDn(record.dn, rdns, &error)) {
                Warn(file, record.line, "record skipped: " + error);
                continue;
            }
            auto found = entries_.find(TypelessFromRdns(rdns));
            if (found == entries_.end()) {
                Warn(file, record.line, "record skipped: no entry \"" + record.dn + "\"");
                continue;
            }
            StoredEntry working = found->second;
            Status status = kOk;
            for (const LdifMod& mod : record.mods) {
                status = ApplyMod(working, mod);
                if (status != kOk) {
                    Warn(file, mod.line,
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
            if (!EntryFromLdif(record, stored, &error)) {
                Warn(file, record.line, "record skipped: " + error);
            } else if (entries_.count(stored.entry.name)) {
                Warn(file, record.line, "record skipped: \"" + record.dn + "\" exists already");
            } else if (std::string placement = PlacementError(stored); !placement.empty()) {
                Warn(file, record.line, "record skipped: " + placement);
            } else {
                Insert(std::move(stored));
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
Status FolderStore::CatchUpUnderLock() {
    std::filesystem::path file = Path(kSnapshotFile);
    bool exists = false;
    std::string error;
    auto reader = platform::ReadOnlyFile::Open(file, &exists, &error);
    std::string head;
    if (!reader || !reader->Read(0, kGenerationLineBytes, head, &error)) {
        Warn(file, 0, error);
        return kIoError;
    }
    if (ReadGeneration(head, kSnapshotHeader).value_or(0) != snapshotGeneration_) {
        Problem problem;
        if (!LoadAll(true, &problem)) {
            warnings_.push_back(problem);
            return kCorrupt;
        }
    } else {
        Status status = RefreshJournal(true);
        if (status != kOk) {
            return status;
        }
    }
    return journalFolded_ ? StartFreshJournal() : kOk;
}

// Every change starts here: under the append lock, checked against and appended after all that
// other processes appended before it.
Status FolderStore::LockAndCatchUp(std::optional<platform::AppendLock>& lock) {
    std::string error;
    bool busy = false;
    lock = platform::AppendLock::Acquire(Path(kLockFile), &error, lockWait_, &busy);
    if (!lock) {
        Warn(Path(kLockFile), 0, error);
        return busy ? kLocked : kIoError;
    }
    return CatchUpUnderLock();
}

Status FolderStore::StartFreshJournal() {
    std::string header = GenerationLine(kJournalHeader, snapshotGeneration_);
    std::string error;
    if (!platform::WriteFileDurably(Temporary(kJournalFile), header, &error) ||
        !platform::ReplaceFileDurably(Temporary(kJournalFile), Path(kJournalFile), &error)) {
        Warn(Path(kJournalFile), 0, error);
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

const StoredEntry* FolderStore::Insert(StoredEntry stored) {
    std::string name = stored.entry.name;
    auto [it, added] = entries_.emplace(name, std::move(stored));
    if (!added) {
        return nullptr;
    }
    std::vector<std::string> parts;
    if (!SplitTypeless(name, parts)) {
        entries_.erase(it);  // cannot come from a parsed DN, whose parts are never empty
        return nullptr;
    }
    children_[ParentName(name)][parts.front()] = &it->second.entry;
    return &it->second;
}

// Why the entry cannot stand where its name puts it, or "" when it can: its container must be
// held and of a class that may hold the entry's class; without a container, the class must live
// at the top of the tree.
std::string FolderStore::PlacementError(const StoredEntry& stored, ContainerCache* cache) const {
    const ClassDef* objectClass = schema_.ObjectClass(stored.entry.objectClass);
    if (!objectClass) {
        return "unknown object class \"" + stored.entry.objectClass + "\"";
    }
    std::string parent = ParentName(stored.entry.name);
    const ClassDef* containerClass = nullptr;
    if (!parent.empty()) {
        const StoredEntry* container = nullptr;
        if (cache && EqualsIgnoreCase(cache->name, parent)) {
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
        containerClass = schema_.ObjectClass(container->entry.objectClass);
    }
    if (schema_.MayContain(containerClass, *objectClass)) {
        return {};
    }
    if (!containerClass) {
        return "\"" + stored.dn + "\": a " + objectClass->name +
               " cannot stand at the top of the tree";
    }
    return "\"" + stored.dn + "\": a " + containerClass->name + " cannot hold a " +
           objectClass->name;
}

bool FolderStore::EntryFromLdif(const LdifRecord& record, StoredEntry& out,
                                std::string* error) const {
    return EntryFromRecord(schema_, record, out.entry, &out.dn, &out.foreign, error);
}

Status FolderStore::ToLdifValue(const AttributeDef& def, std::string_view value,
                                std::string& out) const {
    return LdapValueOf(
        schema_, def, value, [this](std::string_view name) { return DnOf(name); }, out);
}

// The DN of a typeless name: the stored DN of the entry or of its nearest stored container;
// parts above that are named as the tree is built: a leaf by cn, the top by o, the rest by ou.
std::string FolderStore::DnOf(std::string_view fullName) const {
    std::vector<std::string> parts;
    SplitTypeless(fullName, parts);
    std::vector<Rdn> rdns;
    std::string suffix;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::vector<std::string> rest(parts.begin() + static_cast<std::ptrdiff_t>(i), parts.end());
        auto found = entries_.find(JoinTypeless(rest));
        if (found != entries_.end()) {
            suffix = found->second.dn;
            break;
        }
        const char* type = (i + 1 == parts.size()) ? "o" : (i == 0 ? "cn" : "ou");
        rdns.push_back({type, parts[i]});
    }
    std::string dn = FormatDn(rdns);
    if (!suffix.empty()) {
        dn += dn.empty() ? suffix : "," + suffix;
    }
    return dn;
}

Status FolderStore::ApplyMod(StoredEntry& stored, const LdifMod& mod) const {
    return ApplyLdifMod(schema_, stored.entry, mod);
}

Status FolderStore::PlanChange(StoredEntry& working, const Change& change,
                               std::vector<LdifMod>& mods) const {
    return tally::store::PlanChange(
        schema_, working.entry, change, [this](std::string_view name) { return DnOf(name); }, mods);
}

// ---------------------------------------------------------------------------------------------
// Changes

Status FolderStore::AppendRecord(const std::string& body) {
    std::error_code ignored;
    if (journalOffset_ == 0 && !std::filesystem::exists(Path(kJournalFile), ignored)) {
        // The first change in a folder without a journal: create it durably, folder entry
        // included, so that Sync() has only the file's contents to flush.
        Status status = StartFreshJournal();
        if (status != kOk) {
            return status;
        }
    }
    std::string bytes;
    if (journalOffset_ == 0) {
        bytes = GenerationLine(kJournalHeader, snapshotGeneration_);
    } else if (!journalEndsClean_) {
        bytes = "\n\n";  // so that torn bytes before it can never run into this record
    }
    bytes += FrameRecord(body);
    std::string error;
    if (!platform::AppendToFile(Path(kJournalFile), bytes, &error)) {
        Warn(Path(kJournalFile), journalLine_, error);
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

Status FolderStore::Sync() {
    if (!unsynced_) {
        return kOk;
    }
    // Whatever compacted the journal since has flushed these records with its snapshot; the
    // journal flushed here then is the new one, which does no harm.
    std::string error;
    if (!platform::FlushFileToDisk(Path(kJournalFile), &error)) {
        Warn(Path(kJournalFile), 0, error);
        return kIoError;
    }
    unsynced_ = false;
    return kOk;
}

Status FolderStore::Modify(std::string_view name, const std::vector<Change>& changes) {
    // Callers pass the name of an entry of this view, which catching up may replace.
    const std::string fullName(name);
    produced_.clear();
    std::optional<platform::AppendLock> lock;
    Status status = LockAndCatchUp(lock);
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
        status = PlanChange(working, change, mods);
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
    status = AppendRecord(FormatLdifRecord(record));
    if (status == kOk) {
        // Still under the lock: these are the values this change produced.
        for (const Change& change : changes) {
            const AttributeDef* def = schema_.Attribute(change.attribute);
            auto held = working.entry.attributes.find(def->name);
            produced_[def->name] =
                held != working.entry.attributes.end() ? held->second : std::vector<std::string>{};
        }
        found->second = std::move(working);
    }
    return status;
}

Status FolderStore::AddEntry(const Entry& entry) {
    std::vector<std::string> parts;
    if (!SplitTypeless(entry.name, parts)) {
        return kIllegalName;
    }
    const ClassDef* objectClass = schema_.ObjectClass(entry.objectClass);
    const AttributeDef* naming = objectClass ? schema_.NamingAttribute(*objectClass) : nullptr;
    if (!naming) {
        return kNoSuchClass;
    }
    std::optional<platform::AppendLock> lock;
    Status status = LockAndCatchUp(lock);
    if (status != kOk) {
        return status;
    }
    if (entries_.count(entry.name)) {
        return kEntryExists;
    }
    std::string parent = ParentName(entry.name);
    const StoredEntry* container = nullptr;
    if (!parent.empty()) {
        auto found = entries_.find(parent);
        if (found == entries_.end()) {
            return kNoSuchEntry;
        }
        container = &found->second;
    }
    if (!schema_.MayContain(container ? schema_.ObjectClass(container->entry.objectClass) : nullptr,
                            *objectClass)) {
        return kIllegalContainment;
    }
    LdifRecord record;
    record.kind = RecordKind::Add;
    record.dn = FormatRdn({naming->ldapName, parts.front()});
    if (container) {
        record.dn += "," + container->dn;
    }
    record.values.push_back({"objectClass", objectClass->ldapName, 0});
    record.values.push_back({naming->ldapName, parts.front(), 0});
    for (const auto& [name, values] : entry.attributes) {
        const AttributeDef* def = schema_.Attribute(name);
        if (!def) {
            return kNoSuchAttribute;
        }
        if (def == naming || def->name == kObjectClass) {
            continue;
        }
        if (!schema_.Allows(*objectClass, def->name)) {
            return kIllegalAttribute;
        }
        for (const std::string& value : values) {
            std::string ldif;
            status = ToLdifValue(*def, value, ldif);
            if (status != kOk) {
                return status;
            }
            record.values.push_back({def->ldapName, ldif, 0});
        }
    }
    status = CheckValueCounts(record);
    if (status != kOk) {
        return status;
    }
    StoredEntry stored;
    std::string error;
    if (!EntryFromLdif(record, stored, &error)) {
        return kBadSyntax;
    }
    status = AppendRecord(FormatLdifRecord(record));
    if (status == kOk) {
        Insert(std::move(stored));
    }
    return status;
}

Status FolderStore::CheckValueCounts(const LdifRecord& record) const {
    std::map<std::string, std::vector<std::string>, CaseInsensitiveLess> seen;
    for (const LdifValue& value : record.values) {
        const AttributeDef* def = schema_.AttributeByLdapName(value.attribute);
        std::vector<std::string>& values = seen[value.attribute];
        if (def && HoldsValue(*def, values, value.value)) {
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

void FolderStore::WriteEntry(std::string& out, const StoredEntry& stored) const {
    WriteLdifLine(out, "dn", stored.dn);
    const AttributeMap& attributes = stored.entry.attributes;
    auto classes = attributes.find(kObjectClass);
    if (classes != attributes.end()) {
        const AttributeDef* def = schema_.Attribute(kObjectClass);
        for (const std::string& value : classes->second) {
            std::string ldif;
            ToLdifValue(*def, value, ldif);
            WriteLdifLine(out, "objectClass", ldif);
        }
    }
    for (const auto& [name, values] : attributes) {
        const AttributeDef* def = schema_.Attribute(name);
        if (!def || def->name == kObjectClass) {
            continue;
        }
        for (const std::string& value : values) {
            std::string ldif;
            ToLdifValue(*def, value, ldif);
            WriteLdifLine(out, def->ldapName, ldif);
        }
    }
    for (const LdifValue& value : stored.foreign) {
        WriteLdifLine(out, value.attribute, value.value);
    }
    out += '\n';
}

std::string FolderStore::SnapshotText(std::uint64_t generation, std::string_view entries,
                                      std::size_t count) const {
    return GenerationLine(kSnapshotHeader, generation) + std::string(kSnapshotEndNote) + "\n\n" +
           std::string(entries) + std::string(kSnapshotEndLine) + std::to_string(count) +
           " entries\n";
}

std::string FolderStore::EntriesText(std::size_t* count) const {
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
                    WriteEntry(out, entries_.find(entry->name)->second);
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
Status FolderStore::CheckNothingIsLost(std::size_t count) {
    std::filesystem::path file = Path(kSnapshotFile);
    if (snapshotMayBeCut_) {
        Warn(file, snapshotMayBeCut_->line,
             "compaction refused: " +
                 snapshotMayBeCut_->message.substr(0, snapshotMayBeCut_->message.find(';')));
        return kCorrupt;
    }
    bool exists = false;
    std::string error;
    auto reader = platform::ReadOnlyFile::Open(file, &exists, &error);
    std::string text;
    if (!reader || !reader->Read(0, platform::kToEnd, text, &error)) {
        Warn(file, 0, error);
        return kIoError;
    }
    std::size_t held = CountRecordStarts(text);
    if (count < held) {
        Warn(file, 0,
             "compaction refused: it would write " + std::to_string(count) +
                 " entries, the snapshot holds " + std::to_string(held));
        return kCorrupt;
    }
    return kOk;
}

// A journal written by hand may lack its generation line. Left so beside the snapshot of a
// compaction that stopped before its second rename, its records (in that snapshot already)
// would be applied a second time; with the line, the journal is older than the snapshot.
Status FolderStore::GiveJournalItsGeneration() {
    std::string text;
    std::string error;
    std::string header = GenerationLine(kJournalHeader, snapshotGeneration_);
    if (!platform::ReadWholeFile(Path(kJournalFile), text, &error) ||
        !platform::WriteFileDurably(Temporary(kJournalFile), header + text, &error) ||
        !platform::ReplaceFileDurably(Temporary(kJournalFile), Path(kJournalFile), &error)) {
        Warn(Path(kJournalFile), 0, error);
        return kIoError;
    }
    journalGeneration_ = snapshotGeneration_;
    journalOffset_ += header.size();
    journalLine_ += 1;
    return kOk;
}

Status FolderStore::Compact() {
    std::optional<platform::AppendLock> lock;
    Status status = LockAndCatchUp(lock);
    if (status != kOk) {
        return status;
    }
    if (!journalGeneration_ && journalOffset_ > 0) {
        status = GiveJournalItsGeneration();
        if (status != kOk) {
            return status;
        }
    }
    std::size_t count = 0;
    std::string entries = EntriesText(&count);
    status = CheckNothingIsLost(count);
    if (status != kOk) {
        return status;
    }
    std::uint64_t generation = std::max(snapshotGeneration_, journalGeneration_.value_or(0)) + 1;
    std::string error;
    std::string journalHeader = GenerationLine(kJournalHeader, generation);
    // Each step leaves a state that a reader takes for what it is: before the snapshot's rename
    // the old files stand; after it the new snapshot holds every change and the old journal,
    // older than the snapshot, is ignored until a writer starts a new one.
    if (!platform::WriteFileDurably(Temporary(kSnapshotFile),
                                    SnapshotText(generation, entries, count), &error) ||
        !platform::WriteFileDurably(Temporary(kJournalFile), journalHeader, &error) ||
        !platform::ReplaceFileDurably(Temporary(kSnapshotFile), Path(kSnapshotFile), &error)) {
        Warn(Path(kSnapshotFile), 0, error);
        return kIoError;
    }
    snapshotGeneration_ = generation;
    journalFolded_ = true;
    if (!platform::ReplaceFileDurably(Temporary(kJournalFile), Path(kJournalFile), &error)) {
        Warn(Path(kJournalFile), 0, error);
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

std::vector<const Entry*> Store::ChildrenOfClass(std::string_view container,
                                                 std::string_view className) const {
    std::vector<const Entry*> children = Children(container);
    children.erase(std::remove_if(children.begin(), children.end(),
                                  [&](const Entry* child) {
                                      return !EqualsIgnoreCase(child->objectClass, className);
                                  }),
                   children.end());
    return children;
}

std::unique_ptr<Store> Store::Open(const std::filesystem::path& folder, Problem* problem,
                                   std::chrono::milliseconds lockWait) {
    auto store = std::make_unique<FolderStore>(folder, lockWait);
    Problem local;
    if (!store->Load(problem ? problem : &local)) {
        return nullptr;
    }
    return store;
}

bool ExportLdif(const std::filesystem::path& folder, std::string& out, Problem* problem,
                std::vector<Problem>* warnings) {
    FolderStore store(folder, kDefaultLockWait);
    Problem local;
    bool loaded = store.Load(problem ? problem : &local);
    if (warnings) {
        *warnings = store.Warnings();
    }
    if (loaded) {
        out = store.EntriesText();
    }
    return loaded;
}

}  // namespace tally::store
