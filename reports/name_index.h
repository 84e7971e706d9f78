// A name → number index for the reports' per-line lookups: a user or key name read from every
// line of a million-line log is found without an allocation and with one or two cache lines
// touched. Names are kept once, back to back, and found through an open-addressed table of their
// hashes; a node-based map costs a pointer chase per step and a copy per key.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tally::reports {

class NameIndex {
  public:
    enum class Case { Exact, Ignored };  // Ignored: A-Z equal a-z, other bytes as they are
    static constexpr std::uint32_t kMissing = UINT32_MAX;

    explicit NameIndex(Case compare);

    // The number stored for `name`, or kMissing.
    std::uint32_t Find(std::string_view name) const;
    // Stores `number` for `name` unless the name is there already; returns the number stored.
    std::uint32_t Insert(std::string_view name, std::uint32_t number);
    std::size_t Size() const { return entries_.size(); }

  private:
    struct Entry {
        std::size_t offset;  // into names_
        std::size_t length;
        std::uint32_t number;
    };
    struct Slot {
        std::uint32_t hash = 0;
        std::uint32_t entry = 0;  // entries_ index + 1; 0 is a free slot
    };

    std::uint32_t Hash(std::string_view name) const;
    bool Same(const Entry& entry, std::string_view name) const;
    // The slot holding `name`, or the free slot where it would go.
    std::size_t SlotOf(std::string_view name, std::uint32_t hash) const;
    void Grow();

    Case compare_;
    std::vector<Slot> slots_;  // a power of two long, at most half full
    std::vector<Entry> entries_;
    std::string names_;
};

}  // namespace tally::reports
