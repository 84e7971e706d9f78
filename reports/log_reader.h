// Reading the accounting log line by line, for the reports.
//
// The log is a text file of records, each ended by CR LF, that the accounting server and every
// copy of TallyDesk append to while it is read. A reader takes the file's length when it opens
// it and reads the log as long as it was then: lines appended later belong to the next report,
// so that a report of a busy log ends, and its time, memory and output follow the log it was
// asked about. Every line comes whole, however long, with its line end as it stands in the
// file: a report that copies a line copies exactly what was read. A line that was still being
// written at the open ends where the log ended then.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/regular_file.h"

namespace tally::reports {

class LogReader {
  public:
    LogReader() = default;
    LogReader(const LogReader&) = delete;
    LogReader& operator=(const LogReader&) = delete;
    ~LogReader();

    // Opens `path` for reading without line-end translation and takes its length, or `upTo`
    // when that is smaller (a second reading of the log the first one read). False when the file
    // cannot be opened or is no ordinary file (a folder, a pipe nobody writes: never waited on);
    // OpenFailure then says which.
    bool Open(const std::string& path, std::uint64_t upTo = UINT64_MAX);
    // The bytes this reading takes: the log's length at the open.
    std::uint64_t Length() const { return length_; }
    // "Error opening <path>", or "<path> is a folder, not a log" and the like.
    std::string OpenFailure(const std::string& path) const;

    // The next line, line end included, or false at the end of the file. A read error counts as
    // the end. The view stays valid until the next call.
    bool NextLine(std::string_view& line);

    // Bytes consumed so far × 100 / the length at open, rounded down, at most 100. A log that was
    // empty at open counts as read whole (100).
    int PercentRead() const;

    void Close();

  private:
    bool Fill();

    std::FILE* file_ = nullptr;
    platform::FileKind kind_ = platform::FileKind::Missing;
    std::uint64_t length_ = 0;
    std::uint64_t consumed_ = 0;
    std::uint64_t taken_ = 0;  // bytes read from the file so far: never more than length_
    std::vector<char> buffer_;
    std::size_t begin_ = 0;  // first unread byte in buffer_
    std::size_t end_ = 0;    // one past the last byte read into buffer_
    bool atEnd_ = false;
};

}  // namespace tally::reports
