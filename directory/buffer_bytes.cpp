#include "directory/buffer_bytes.h"

#include <cstring>

namespace tally::directory {

void AppendU32(Bytes& out, std::uint32_t value) {
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
        static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    out.insert(out.end(), bytes, bytes + 4);
}

void AppendText(Bytes& out, std::string_view text) {
    out.reserve(out.size() + 4 + text.size());
    AppendU32(out, static_cast<std::uint32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

void AppendBytes(Bytes& out, const Bytes& bytes) {
    AppendU32(out, static_cast<std::uint32_t>(bytes.size()));
    out.insert(out.end(), bytes.begin(), bytes.end());
}

bool ByteReader::U8(std::uint8_t& value) {
    if (size_ - position_ < 1) {
        return false;
    }
    value = data_[position_++];
    return true;
}

bool ByteReader::U32(std::uint32_t& value) {
    if (size_ - position_ < 4) {
        return false;
    }
    value = 0;
    for (int i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(data_[position_ + i]) << (8 * i);
    }
    position_ += 4;
    return true;
}

bool ByteReader::BytesInPlace(const std::uint8_t*& at, std::uint32_t& length) {
    std::size_t start = position_;
    if (!U32(length) || size_ - position_ < length) {
        position_ = start;
        return false;
    }
    at = data_ + position_;
    position_ += length;
    return true;
}

bool ByteReader::Text(std::string& value) {
    const std::uint8_t* at = nullptr;
    std::uint32_t length = 0;
    if (!BytesInPlace(at, length)) {
        return false;
    }
    value.assign(reinterpret_cast<const char*>(at), length);
    return true;
}

}  // namespace tally::directory

bool DirBuffer::AppendRecord(const tally::directory::Bytes& record) {
    if (record.size() > Capacity() - used) {
        return false;
    }
    std::memcpy(bytes.data() + used, record.data(), record.size());
    used += record.size();
    return true;
}

bool DirBuffer::HoldResult(tally::directory::ResultKind kind,
                           const tally::directory::Bytes& chunk) {
    use = tally::directory::BufferUse::Result;
    resultKind = tally::directory::ResultKind::None;
    used = 0;
    cursor = 0;
    valueMayFollow = false;
    recordsLeft = valuesLeft = listsLeft = 0;
    countRead = false;
    currentSyntax = 0;
    if (!AppendRecord(chunk)) {
        return false;
    }
    resultKind = kind;
    return true;
}
