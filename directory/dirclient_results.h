// Results: laid out in chunks that each fit the caller's buffer, and read back record by record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "directory/buffer_bytes.h"
#include "directory/dirclient.h"

namespace tally::directory {

struct ListedObject {
    std::string name;  // relative to the listed container
    std::string baseClass;
    std::uint32_t subordinateCount = 0;
};

struct ReadAttribute {
    std::string name;
    std::uint32_t syntax = 0;
    std::vector<Bytes> values;  // result forms (see ResultValueOf)
};

struct ClassDefinition {
    std::string name;
    const std::vector<std::string>* itemLists = nullptr;  // five lists
};

struct AttrDefinition {
    std::string name;
    std::uint32_t syntax = 0;
    bool singleValued = false;
};

// Each packer gives the chunks of one result for a buffer of `capacity` bytes; false when one
// record alone is larger than the buffer.
bool PackListing(const std::vector<ListedObject>& objects, std::size_t capacity,
                 std::vector<Bytes>& chunks);
bool PackRead(const std::vector<ReadAttribute>& attributes, bool withValues, std::size_t capacity,
              std::vector<Bytes>& chunks);
bool PackAttrDefs(const std::vector<AttrDefinition>& definitions, std::size_t capacity,
                  std::vector<Bytes>& chunks);
bool PackClassDefs(const std::vector<ClassDefinition>& definitions, std::size_t capacity,
                   std::vector<Bytes>& chunks);

}  // namespace tally::directory
