#include "directory/dirclient_results.h"

namespace tally::directory {
namespace {

constexpr std::size_t kCountBytes = 4;

// Collects records into chunks: each chunk is a 32-bit record count followed by the records.
class ChunkPacker {
  public:
    explicit ChunkPacker(std::size_t capacity) : capacity_(capacity) { StartChunk(); }

    std::size_t Room() const { return capacity_ - current_.size(); }
    bool Empty() const { return count_ == 0; }

    // Appends a record, opening a new chunk when it does not fit this one.
    bool Add(const Bytes& record) {
        if (record.size() > Room()) {
            if (Empty()) {
                return false;
            }
            Flush();
        }
        if (record.size() > Room()) {
            return false;
        }
        current_.insert(current_.end(), record.begin(), record.end());
        ++count_;
        return true;
    }

    void Flush() {
        for (int i = 0; i < 4; ++i) {
            current_[i] = static_cast<std::uint8_t>(count_ >> (8 * i));
        }
        chunks_.push_back(std::move(current_));
        StartChunk();
    }

    std::vector<Bytes> Finish() {
        if (!Empty() || chunks_.empty()) {
            Flush();
        }
        return std::move(chunks_);
    }

  private:
    void StartChunk() {
        current_.assign(kCountBytes, 0);
        count_ = 0;
    }

    std::size_t capacity_;
    Bytes current_;
    std::uint32_t count_ = 0;
    std::vector<Bytes> chunks_;
};

Bytes AttributeRecord(const ReadAttribute& attribute, std::size_t first, std::size_t count,
                      bool withValues) {
    Bytes record;
    AppendText(record, attribute.name);
    AppendU32(record, attribute.syntax);
    AppendU32(record, static_cast<std::uint32_t>(withValues ? count : 0));
    if (withValues) {
        for (std::size_t i = first; i < first + count; ++i) {
            AppendBytes(record, attribute.values[i]);
        }
    }
    return record;
}

std::size_t AttributeHeaderSize(const ReadAttribute& attribute) {
    return 4 + attribute.name.size() + 4 + 4;
}

}  // namespace

bool PackListing(const std::vector<ListedObject>& objects, std::size_t capacity,
                 std::vector<Bytes>& chunks) {
    if (capacity < kCountBytes) {
        return false;
    }
    ChunkPacker packer(capacity);
    for (const ListedObject& object : objects) {
        Bytes record;
        record.reserve(24 + object.name.size() + object.baseClass.size());
        AppendText(record, object.name);
        AppendU32(record, 0);  // attributes returned with the name
        AppendU32(record, 0);  // object flags
        AppendU32(record, object.subordinateCount);
        AppendU32(record, 0);  // modification time
        AppendText(record, object.baseClass);
        if (!packer.Add(record)) {
            return false;
        }
    }
    chunks = packer.Finish();
    return true;
}

bool PackRead(const std::vector<ReadAttribute>& attributes, bool withValues, std::size_t capacity,
              std::vector<Bytes>& chunks) {
    if (capacity < kCountBytes) {
        return false;
    }
    ChunkPacker packer(capacity);
    for (const ReadAttribute& attribute : attributes) {
        if (!withValues || attribute.values.empty()) {
            if (!packer.Add(AttributeRecord(attribute, 0, 0, false))) {
                return false;
            }
            continue;
        }
        // A long list of values goes out in parts; each part repeats the attribute's name.
        std::size_t next = 0;
        while (next < attribute.values.size()) {
            std::size_t room = packer.Room();
            std::size_t size = AttributeHeaderSize(attribute);
            std::size_t count = 0;
            while (next + count < attribute.values.size() &&
                   size + 4 + attribute.values[next + count].size() <= room) {
                size += 4 + attribute.values[next + count].size();
                ++count;
            }
            if (count == 0) {
                if (packer.Empty()) {
                    return false;
                }
                packer.Flush();
                continue;
            }
            packer.Add(AttributeRecord(attribute, next, count, true));
            next += count;
        }
    }
    chunks = packer.Finish();
    return true;
}

bool PackAttrDefs(const std::vector<AttrDefinition>& definitions, std::size_t capacity,
                  std::vector<Bytes>& chunks) {
    if (capacity < kCountBytes) {
        return false;
    }
    ChunkPacker packer(capacity);
    for (const AttrDefinition& definition : definitions) {
        Bytes record;
        AppendText(record, definition.name);
        AppendU32(record, definition.singleValued ? 1u : 0u);  // flags: single-valued
        AppendU32(record, definition.syntax);
        AppendU32(record, 0);
        AppendU32(record, 0);
        if (!packer.Add(record)) {
            return false;
        }
    }
    chunks = packer.Finish();
    return true;
}

bool PackClassDefs(const std::vector<ClassDefinition>& definitions, std::size_t capacity,
                   std::vector<Bytes>& chunks) {
    if (capacity < kCountBytes) {
        return false;
    }
    ChunkPacker packer(capacity);
    for (const ClassDefinition& definition : definitions) {
        Bytes record;
        AppendText(record, definition.name);
        AppendU32(record, 0);  // class flags
        AppendU32(record, 5);
        for (int list = 0; list < 5; ++list) {
            const std::vector<std::string>& items = definition.itemLists[list];
            AppendU32(record, static_cast<std::uint32_t>(items.size()));
            for (const std::string& item : items) {
                AppendText(record, item);
            }
        }
        if (!packer.Add(record)) {
            return false;
        }
    }
    chunks = packer.Finish();
    return true;
}

}  // namespace tally::directory
