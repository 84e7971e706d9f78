#include "reports/log_reader.h"

#include <algorithm>
#include <cstring>

namespace tally::reports {
namespace {

// Large enough that a log of a million lines is read in a few hundred calls.
constexpr std::size_t kFirstBufferBytes = 256 * 1024;

// The file's length in bytes, the position left at the start; when it cannot be told, the file
// is read to its end as it goes (the percentage then stays at 0).
std::uint64_t LengthOf(std::FILE* file) {
#ifdef _WIN32
    if (_fseeki64(file, 0, SEEK_END) != 0) {
        return UINT64_MAX;
    }
    const long long length = _ftelli64(file);
    _fseeki64(file, 0, SEEK_SET);
#else
    if (fseeko(file, 0, SEEK_END) != 0) {
        return UINT64_MAX;
    }
    const off_t length = ftello(file);
    fseeko(file, 0, SEEK_SET);
#endif
    if (length < 0) {
        return UINT64_MAX;
    }
    return static_cast<std::uint64_t>(length);
}

}  // namespace

LogReader::~LogReader() {
    Close();
}

bool LogReader::Open(const std::string& path, std::uint64_t upTo) {
    Close();
    file_ = platform::OpenRegularFileForReading(path, kind_);
    if (file_ == nullptr) {
        return false;
    }
    length_ = std::min(LengthOf(file_), upTo);
    consumed_ = 0;
    taken_ = 0;
    buffer_.assign(kFirstBufferBytes, '\0');
    begin_ = end_ = 0;
    atEnd_ = false;
    return true;
}

std::string LogReader::OpenFailure(const std::string& path) const {
    const std::string notAFile = platform::NotAFileMessage(path, kind_, "a log");
    return notAFile.empty() ? "Error opening " + path : notAFile;
}

void LogReader::Close() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

bool LogReader::Fill() {
    if (atEnd_ || file_ == nullptr) {
        return false;
    }
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == buffer_.size()) {
        buffer_.resize(buffer_.size() * 2);  // a line longer than the buffer: it comes whole
    }
    const std::uint64_t left = length_ - taken_;
    const std::size_t room = buffer_.size() - end_;
    const std::size_t wanted = left < room ? static_cast<std::size_t>(left) : room;
    const std::size_t got = wanted == 0 ? 0 : std::fread(buffer_.data() + end_, 1, wanted, file_);
    if (got == 0) {
        atEnd_ = true;  // the end, or a read error, which ends the reading the same way
        return false;
    }
    end_ += got;
    taken_ += got;
    return true;
}

bool LogReader::NextLine(std::string_view& line) {
    std::size_t searchFrom = begin_;
    for (;;) {
        const char* start = buffer_.data() + searchFrom;
        const void* found = std::memchr(start, '\n', end_ - searchFrom);
        if (found != nullptr) {
            const std::size_t lineEnd =
                static_cast<std::size_t>(static_cast<const char*>(found) - buffer_.data()) + 1;
            line = std::string_view(buffer_.data() + begin_, lineEnd - begin_);
            consumed_ += line.size();
            begin_ = lineEnd;
            return true;
        }
        const std::size_t scanned = end_ - begin_;
        if (!Fill()) {
            if (begin_ == end_) {
                return false;
            }
            // The last line of a file that does not end with a line end.
            line = std::string_view(buffer_.data() + begin_, end_ - begin_);
            consumed_ += line.size();
            begin_ = end_;
            return true;
        }
        searchFrom = begin_ + scanned;  // Fill moved the unread bytes to the front
    }
}

int LogReader::PercentRead() const {
    if (length_ == 0) {
        return 100;
    }
    return static_cast<int>(consumed_ * 100 / length_);
}

}  // namespace tally::reports
