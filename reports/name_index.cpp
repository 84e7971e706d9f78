#include "reports/name_index.h"

#include <algorithm>
#include <cstring>

#include "reports/log_records.h"

namespace tally::reports {
namespace {

constexpr std::size_t kFirstSlots = 64;
constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// Up to eight bytes of a name as one word, the missing bytes 0.
std::uint64_t Word(const char* bytes, std::size_t count) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes, count);
    return word;
}

// A-Z as a-z in all eight bytes at once, every other byte as it is (FoldCase, eight wide).
std::uint64_t FoldWord(std::uint64_t word) {
    const std::uint64_t low7 = word & ~kHighBits;
    const std::uint64_t atLeastA = low7 + (0x80 - 'A') * kOnes;
    const std::uint64_t aboveZ = low7 + (0x80 - 'Z' - 1) * kOnes;
    const std::uint64_t upper = atLeastA & ~aboveZ & ~word & kHighBits;
    return word | (upper >> 2);
}

// Calls `take` with the name's words in order, folded when the case is ignored.
template <typename Take>
void ForEachWord(std::string_view name, bool fold, Take take) {
    std::size_t at = 0;
    for (; at + 8 <= name.size(); at += 8) {
        const std::uint64_t word = Word(name.data() + at, 8);
        take(fold ? FoldWord(word) : word);
    }
    if (at < name.size()) {
        const std::uint64_t word = Word(name.data() + at, name.size() - at);
        take(fold ? FoldWord(word) : word);
    }
}

}  // namespace

NameIndex::NameIndex(Case compare) : compare_(compare), slots_(kFirstSlots) {}

// A word at a time over the name as compared, so that names equal under the index's case rule
// hash alike; the mixing spreads every byte into the low bits the table uses.
std::uint32_t NameIndex::Hash(std::string_view name) const {
    std::uint64_t hash = 0x9E3779B97F4A7C15ULL ^ name.size();
    ForEachWord(name, compare_ == Case::Ignored, [&hash](std::uint64_t word) {
        hash = (hash ^ word) * 0xFF51AFD7ED558CCDULL;
        hash ^= hash >> 32;
    });
    return static_cast<std::uint32_t>(hash ^ (hash >> 29));
}

// Names are stored as compared (folded when the case is ignored), so only the name asked for
// is folded here, eight bytes at a time.
bool NameIndex::Same(const Entry& entry, std::string_view name) const {
    if (entry.length != name.size()) {
        return false;
    }
    const char* stored = names_.data() + entry.offset;
    if (compare_ == Case::Exact) {
        return std::memcmp(stored, name.data(), name.size()) == 0;
    }
    std::size_t at = 0;
    for (; at + 8 <= name.size(); at += 8) {
        if (FoldWord(Word(name.data() + at, 8)) != Word(stored + at, 8)) {
            return false;
        }
    }
    for (; at < name.size(); ++at) {
        if (FoldCase(name[at]) != stored[at]) {
            return false;
        }
    }
    return true;
}

std::size_t NameIndex::SlotOf(std::string_view name, std::uint32_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        const Slot& slot = slots_[at];
        if (slot.entry == 0 || (slot.hash == hash && Same(entries_[slot.entry - 1], name))) {
            return at;
        }
    }
}

std::uint32_t NameIndex::Find(std::string_view name) const {
    const Slot& slot = slots_[SlotOf(name, Hash(name))];
    return slot.entry == 0 ? kMissing : entries_[slot.entry - 1].number;
}

std::uint32_t NameIndex::Insert(std::string_view name, std::uint32_t number) {
    const std::uint32_t hash = Hash(name);
    std::size_t at = SlotOf(name, hash);
    if (slots_[at].entry != 0) {
        return entries_[slots_[at].entry - 1].number;
    }
    entries_.push_back(Entry{names_.size(), name.size(), number});
    names_.append(name);
    if (compare_ == Case::Ignored) {
        for (std::size_t i = names_.size() - name.size(); i < names_.size(); ++i) {
            names_[i] = FoldCase(names_[i]);
        }
    }
    slots_[at] = Slot{hash, static_cast<std::uint32_t>(entries_.size())};
    if (entries_.size() * 2 > slots_.size()) {
        Grow();
    }
    return number;
}

void NameIndex::Grow() {
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (const Slot& slot : old) {
        if (slot.entry == 0) {
            continue;
        }
        std::size_t at = slot.hash & mask;
        while (slots_[at].entry != 0) {
            at = (at + 1) & mask;
        }
        slots_[at] = slot;
    }
}

}  // namespace tally::reports
