// The embedded directory store: an LDIF snapshot plus an append-only LDIF change journal.
//
// Files of one store, all in one folder:
//   schema.ldif      attribute and class definitions (an OpenLDAP schema entry whose
//                    X-NDS-NAME / X-NDS-SYNTAX extensions carry the directory names and syntax
//                    numbers); see docs/directory-store.md for the mapping
//   directory.ldif   the snapshot: one LDIF entry per object (RFC 2849)
//   journal.ldif     the change journal: LDIF change records in the form ldapmodify accepts,
//                    each written whole under the store's append lock
//   store.lock       the lock file of the append and compaction convention
//
// Names at this interface are the directory client's typeless names ("JSMITH.SALES.CORP",
// case-insensitive), class and attribute names are the directory's ("User", "Account Balance").
// Values are text: integers in decimal, Booleans "TRUE"/"FALSE", distinguished names as typeless
// full names, octet strings and network addresses as raw bytes.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dirstore/names.h"

namespace tally::store {

// Failure statuses (0 is success). The directory client passes these on unchanged.
enum Status : std::int32_t {
    kOk = 0,
    kNoSuchEntry = -601,
    kNoSuchValue = -602,
    kNoSuchAttribute = -603,
    kNoSuchClass = -604,
    kEntryExists = -606,
    kIllegalAttribute = -608,    // the class does not allow it, or it names the object
    kIllegalContainment = -611,  // the container's class may not hold the new entry's class
    kSingleValued = -612,        // a second value for an attribute that holds one
    kBadSyntax = -613,
    kDuplicateValue = -616,  // the attribute holds that value already
    kIllegalName = -615,
    kIoError = -650,
    kCorrupt = -651,
    kLocked = -652,       // another program held the store's lock for longer than the store waits
    kUnavailable = -653,  // a directory server could not be reached, or went away
    kNoAccess = -672,     // a directory server refused: the login may not do that
};

// How long a change waits for the store's lock while another program holds it.
inline constexpr std::chrono::milliseconds kDefaultLockWait{5000};

// Names order without regard to ASCII case, whatever locale the program set. Inline, as every
// lookup of an entry or a definition compares names with it: bytes that agree (most, as names
// are mostly spelt alike) cost one comparison each.
struct CaseInsensitiveLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const {
        const std::size_t common = a.size() < b.size() ? a.size() : b.size();
        for (std::size_t i = 0; i < common; ++i) {
            if (a[i] != b[i]) {
                const int x = Folded(a[i]);
                const int y = Folded(b[i]);
                if (x != y) {
                    return x < y;
                }
            }
        }
        return a.size() < b.size();
    }

  private:
    static int Folded(char c) {
        return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : static_cast<unsigned char>(c);
    }
};

// Hashing and equality of names without regard to ASCII case, for unordered containers of
// names (a server's session cache of ten thousand entries is asked several times a change).
// Eight bytes at a time, each with its 0x20 bit set: names equal without regard to case agree
// in every byte so folded (non-letters that differ only in that bit merely share a hash).
struct CaseInsensitiveHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const {
        constexpr std::uint64_t kFold = 0x2020202020202020ull;
        constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
        std::uint64_t hash = name.size() * kMultiplier;
        std::size_t at = 0;
        for (; at + 8 <= name.size(); at += 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, name.data() + at, 8);
            hash = (hash ^ (word | kFold)) * kMultiplier;
            hash ^= hash >> 32;
        }
        if (at < name.size()) {
            std::uint64_t word = 0;
            for (std::size_t i = 0; at + i < name.size(); ++i) {
                word |= static_cast<std::uint64_t>(static_cast<unsigned char>(name[at + i]) | 0x20)
                        << (8 * i);
            }
            hash = (hash ^ word) * kMultiplier;
            hash ^= hash >> 32;
        }
        return static_cast<std::size_t>(hash);
    }
};

struct CaseInsensitiveEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return EqualsIgnoreCase(a, b); }
};

struct AttributeDef {
    std::string name;      // the directory's name: "Account Balance"
    std::string ldapName;  // the LDIF attribute name: "accountBalance"
    std::uint32_t syntax;  // syntax number of the directory client (1, 3, 7, 8, 9, 12, 22, ...)
    bool singleValued;
};

struct ClassDef {
    std::string name;      // "User"
    std::string ldapName;  // "tallyUser"
    // The five item lists, in this order: super classes, containment classes, naming
    // attributes, mandatory attributes, optional attributes (directory names).
    std::vector<std::string> itemLists[5];
};

using AttributeMap = std::map<std::string, std::vector<std::string>, CaseInsensitiveLess>;

struct Entry {
    std::string name;         // typeless full name: "JSMITH.SALES.CORP"
    std::string objectClass;  // directory class name: "User", "Group", "Organizational Unit", ...
    AttributeMap attributes;  // directory attribute name -> values (naming attribute included)
};

enum class ChangeKind {
    AddValue,   // add one value; on a counter (syntax 22) the value is added to the number
    Overwrite,  // replace all values with this one
    Clear,      // remove the attribute
};

struct Change {
    ChangeKind kind;
    std::string attribute;  // directory attribute name
    std::string value;      // ignored for Clear
};

// Where a problem was found, for messages that name the file and line.
struct Problem {
    std::filesystem::path file;
    int line = 0;
    std::string message;
    std::string Describe() const;  // "<file>:<line>: <message>"
};

class Store {
  public:
    // Opens the store in `folder`. On failure returns null and fills `problem`.
    // A torn last journal record is skipped (and reported through Warnings()), never an error.
    // Changes wait at most `lockWait` for the lock of the store and then fail with kLocked.
    static std::unique_ptr<Store> Open(const std::filesystem::path& folder, Problem* problem,
                                       std::chrono::milliseconds lockWait = kDefaultLockWait);
    virtual ~Store() = default;

    // Brings this view up to date with what other processes appended: reads only the journal
    // tail that is new since the last call (or reloads after another process compacted). Never
    // waits for the lock: a record still being written is left for the next call.
    virtual Status Refresh() = 0;

    virtual const Entry* Find(std::string_view fullName) const = 0;
    // Immediate subordinates of a container ("" is the top of the tree), in name order.
    virtual std::vector<const Entry*> Children(std::string_view container) const = 0;
    // The immediate subordinates of `container` whose directory class is `className` ("User",
    // "Group", "Organizational Unit", ...), in name order: Children() of that class. A store
    // that can ask for one class alone (a server, by a filter) never fetches the others, so the
    // containers beside ten thousand users cost what the containers cost. Only the entries'
    // names and classes count: a server sends nothing else for a listing (Find() reads an
    // entry whole).
    virtual std::vector<const Entry*> ChildrenOfClass(std::string_view container,
                                                      std::string_view className) const;
    // How many immediate subordinates `container` has (Children().size()), for the listings'
    // object information, which no caller reads; a server gives 0 rather than send every entry
    // below each container listed.
    virtual std::size_t SubordinateCount(std::string_view container) const {
        return Children(container).size();
    }

    virtual const AttributeDef* Attribute(std::string_view name) const = 0;
    virtual const std::vector<AttributeDef>& Attributes() const = 0;
    virtual const ClassDef* ObjectClass(std::string_view name) const = 0;
    virtual const std::vector<ClassDef>& Classes() const = 0;

    // Checks the changes against the entry and the schema, appends them to the journal as one
    // record (whole, under the append lock) and applies them to this view. Either all changes
    // of the call are stored or none. kLocked when the lock could not be had in time.
    virtual Status Modify(std::string_view fullName, const std::vector<Change>& changes) = 0;
    virtual Status AddEntry(const Entry& entry) = 0;

    // Folds the journal into the snapshot. Safe against other writers and against being killed
    // at any point: no change is lost or applied twice.
    virtual Status Compact() = 0;

    // Makes every change this store appended so far durable (flushes the journal to the disk:
    // fsync, FlushFileBuffers). Modify() and AddEntry() do not flush, so that a caller making
    // many changes flushes once for all; Sync() after nothing was appended since the last sync
    // costs no system call. kIoError when the flush fails. A store that keeps nothing on disk
    // has nothing to flush, hence the default.
    virtual Status Sync() = 0;

    // Problems met while loading that did not stop the load (a torn last record, for instance).
    virtual const std::vector<Problem>& Warnings() const = 0;

    // Why the last Find() or Children() found nothing although the entry may well be there (a
    // server that could not be asked); kOk when "nothing" meant that there is nothing. A store
    // that holds its entries in memory always knows, hence the default.
    virtual Status LookupFailure() const { return kOk; }

    // The values that the last Modify() which succeeded left in the attributes it changed, as
    // that change produced them: taken while the store's lock was still held, or returned by
    // the server with the change itself, so another writer's change made just after is not in
    // them. An attribute whose value the store could not learn is absent; every Modify() starts
    // afresh. Reading the entry again instead would show whatever was written last.
    const AttributeMap& Produced() const { return produced_; }

    // Changes sent ahead of their answers, for a batch: SendModify() starts a change and
    // TakeModify() ends the oldest one started, in the order they were started, with the status
    // Modify() would have returned and its values in Produced(). SendModify() returns anything
    // but kOk only for a change that was not started (nothing to take for it). A store whose
    // changes are made on the spot makes each in SendModify(), hence the defaults; a server's
    // keeps up to ChangesAhead() of them on their way at once.
    virtual int ChangesAhead() const { return 1; }
    virtual Status SendModify(std::string_view fullName, const std::vector<Change>& changes) {
        const Status status = Modify(fullName, changes);
        madeAhead_.push_back({status, produced_});
        return kOk;
    }
    virtual Status TakeModify() {
        if (madeAhead_.empty()) {
            return kIoError;
        }
        const Status status = madeAhead_.front().first;
        produced_ = std::move(madeAhead_.front().second);
        madeAhead_.pop_front();
        return status;
    }

  protected:
    AttributeMap produced_;

  private:
    std::deque<std::pair<Status, AttributeMap>> madeAhead_;
};

// The current view of the store in `folder` (its snapshot with the journal applied) as LDIF
// content records, containers before what they hold: what the store reports, in the form an
// LDAP server's search prints, so the two can be compared. On failure returns false and fills
// `problem`; problems that did not stop the load go to `warnings`.
bool ExportLdif(const std::filesystem::path& folder, std::string& out, Problem* problem,
                std::vector<Problem>* warnings = nullptr);

}  // namespace tally::store
