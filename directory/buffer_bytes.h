// The bytes behind a DirBuffer handle.
//
// A buffer is a fixed-size byte area, as large as the caller asked for. Requests are written into
// it record by record, and results are delivered into it in chunks that fit; a request or a
// result record that would overflow it is refused rather than grown, since the program sizes its
// buffers the way the directory expects them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "directory/dirclient.h"

namespace tally::directory {

using Bytes = std::vector<std::uint8_t>;

// What a buffer currently holds.
enum class BufferUse : std::uint8_t { Empty, Request, Result };

// What a result buffer holds, so that a reading call meets only the result it understands.
enum class ResultKind : std::uint8_t { None, Listing, Read, AttrDefs, ClassDefs };

// Record tags of a request.
enum class RequestTag : std::uint8_t { AttrName = 1, Change = 2, Value = 3, ClassName = 4 };

void AppendU32(Bytes& out, std::uint32_t value);
void AppendText(Bytes& out, std::string_view text);  // 32-bit length, then the bytes
void AppendBytes(Bytes& out, const Bytes& bytes);    // 32-bit length, then the bytes

// Reads records in order from a byte range; every read checks the bounds first.
class ByteReader {
  public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool U8(std::uint8_t& value);
    bool U32(std::uint32_t& value);
    bool Text(std::string& value);
    // The bytes stay where they are; `at` points into the range.
    bool BytesInPlace(const std::uint8_t*& at, std::uint32_t& length);
    std::size_t Position() const { return position_; }
    bool AtEnd() const { return position_ >= size_; }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

}  // namespace tally::directory

struct DirBuffer {
    explicit DirBuffer(std::size_t size) : bytes(size) {}

    std::vector<std::uint8_t> bytes;  // exactly the allocated size
    std::size_t used = 0;             // bytes written (request or result)
    std::size_t cursor = 0;           // read position in a result
    tally::directory::BufferUse use = tally::directory::BufferUse::Empty;
    std::uint32_t requestKind = 0;
    tally::directory::ResultKind resultKind = tally::directory::ResultKind::None;
    // The last request record was an attribute name or a change, which a value may follow.
    bool valueMayFollow = false;

    // Where reading a result stands: records of the chunk not yet read, values (or class items)
    // of the current record not yet read, item lists of the current class not yet read.
    std::uint32_t recordsLeft = 0;
    std::uint32_t valuesLeft = 0;
    std::uint32_t listsLeft = 0;
    bool countRead = false;
    std::uint32_t currentSyntax = 0;

    std::size_t Capacity() const { return bytes.size(); }
    // Appends one whole record, or nothing when it does not fit.
    bool AppendRecord(const tally::directory::Bytes& record);
    // Replaces the content with one result chunk.
    bool HoldResult(tally::directory::ResultKind kind, const tally::directory::Bytes& chunk);
    tally::directory::ByteReader RequestReader() const { return {bytes.data(), used}; }
    tally::directory::ByteReader ResultReader() const {
        return {bytes.data() + cursor, used - cursor};
    }
};
