#include "directory/dirclient_results.h"

namespace tally::directory {
namespace {

constexpr std::size_t kCountBytes = 4;

// Collects records into chunks: each chunk is a 32-bit record count followed by the records.
class ChunkPacker {
  public:
    explicit ChunkPacker(std::size_t capacity) : capacity_(capacity) { startChunk(); }

    std::size_t room() const { return capacity_ - current_.size(); }
    bool empty() const { return count_ == 0; }

    // Appends a record, opening a new chunk when it does not fit this one.
    bool add(const Bytes& record) {
        if (record.size() > room()) {
            if (empty()) {
                return false;
            }
            flush();
        }
        if (record.size() > room()) {
            return false;
        }
        current_.insert(current_.end(), record.begin(), record.end());
        ++count_;
        return true;
    }

    void flush() {
        for (int i = 0; i < 4; ++i) {
            current_[i] = static_cast<std::uint8_t>(count_ >> (8 * i));
        }
        chunks_.push_back(std::move(current_));
        startChunk();
    }

    std::vector<Bytes> finish() {
        if (!empty() || chunks_.empty()) {
            flush();
        }
        return std::move(chunks_);
    }

  private:
    void startChunk() {
        current_.assign(kCountBytes, 0);
        count_ = 0;
    }

    std::size_t capacity_;
    Bytes current_;
    std::uint32_t count_ = 0;
    std::vector<Bytes> chunks_;
};

Bytes attributeRecord(const ReadAttribute& attribute, std::size_t first, std::size_t count,
                      bool withValues) {
    Bytes record;
    appendText(record, attribute.name);
    appendU32(record, attribute.syntax);
    appendU32(record, static_cast<std::uint32_t>(withValues ? count : 0));
    if (withValues) {
        for (std::size_t i = first; i < first + count; ++i) {
            appendBytes(record, attribute.values[i]);
        }
    }
    return record;
}

std::size_t attributeHeaderSize(const ReadAttribute& attribute) {
    return 4 + attribute.name.size() + 4 + 4;
}

}  // namespace

bool packListing(const std::vector<ListedObject>& objects, std::size_t capacity,
                 std::vector<Bytes>& chunks) {
    if (capacity < kCountBytes) {
        return false;
    }
    ChunkPacker packer(capacity);
    for (const ListedObject& object : objects) {
        Bytes record;
        appendText(record, object.name);
        appendU32(record, 0);  // attributes returned with the name
        appendU32(record, 0);  // object flags
        appendU32(record, object.subordinateCount);
        appendU32(record, 0);  // modification time
        appendText(record, object.baseClass);
        if (!packer.add(record)) {
            return false;
        }
    }
    chunks = packer.finish();
    return true;
}

bool packRead(const std::vector<ReadAttribute>& attributes, bool withValues, std::size_t capacity,
              std::vector<Bytes>& chunks) {
    if (capacity < kCountBytes) {
        return false;
    }
    ChunkPacker packer(capacity);
    for (const ReadAttribute& attribute : attributes) {
        if (!withValues || attribute.values.empty()) {
            if (!packer.add(attributeRecord(attribute, 0, 0, false))) {
                return false;
            }
            continue;
        }
        // A long list of values goes out in parts; each part repeats the attribute's name.
        std::size_t next = 0;
        while (next < attribute.values.size()) {
            std::size_t room = packer.room();
            std::size_t size = attributeHeaderSize(attribute);
            std::size_t count = 0;
            while (next + count < attribute.values.size() &&
                   size + 4 + attribute.values[next + count].size() <= room) {
                size += 4 + attribute.values[next + count].size();
                ++count;
            }
            if (count == 0) {
                if (packer.empty()) {
                    return false;
                }
                packer.flush();
                continue;
            }
            packer.add(attributeRecord(attribute, next, count, true));
            next += count;
        }
    }
    chunks = packer.finish();
    return true;
}

bool packAttrDefs(const std::vector<AttrDefinition>& definitions, std::size_t capacity,
                  std::vector<Bytes>& chunks) {
    if (capacity < kCountBytes) {
        return false;
    }
    ChunkPacker packer(capacity);
    for (const AttrDefinition& definition : definitions) {
        Bytes record;
        appendText(record, definition.name);
        appendU32(record, definition.singleValued ? 1u : 0u);  // flags: single-valued
        appendU32(record, definition.syntax);
        appendU32(record, 0);
        appendU32(record, 0);
        if (!packer.add(record)) {
            return false;
        }
    }
    chunks = packer.finish();
    return true;
}

bool packClassDefs(const std::vector<ClassDefinition>& definitions, std::size_t capacity,
                   std::vector<Bytes>& chunks) {
    if (capacity < kCountBytes) {
        return false;
    }
    ChunkPacker packer(capacity);
    for (const ClassDefinition& definition : definitions) {
        Bytes record;
        appendText(record, definition.name);
        appendU32(record, 0);  // class flags
        appendU32(record, 5);
        for (int list = 0; list < 5; ++list) {
            const std::vector<std::string>& items = definition.itemLists[list];
            appendU32(record, static_cast<std::uint32_t>(items.size()));
            for (const std::string& item : items) {
                appendText(record, item);
            }
        }
        if (!packer.add(record)) {
            return false;
        }
    }
    chunks = packer.finish();
    return true;
}

}  // namespace tally::directory
