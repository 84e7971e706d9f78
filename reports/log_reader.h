// Reading the accounting log line by line, for the reports.
//
// The log is a text file of records, each ended by CR LF, that the accounting server and every
// copy of TallyDesk append to while it is read. A reader takes the file's length when it opens
// it, so that it can tell how much of the log it has read; lines appended later are read too.
// Every line comes whole, however long, with its line end as it stands in the file: a report
// that copies a line copies exactly what was read.
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

    // Opens `path` for reading without line-end translation and takes its length. False when the
    // file cannot be opened or is no ordinary file (a folder, a pipe nobody writes: never waited
    // on); OpenFailure then says which.
    bool Open(const std::string& path);
    // "Error opening <path>", or "<path> is a folder, not a log" and the like.
    std::string OpenFailure(const std::string& path) const;

    // The next line, line end included, or false at the end of the file. A read error counts as
    // the end. The view stays valid until the next call.
    bool NextLine(std::string_view& line);

    // Bytes consumed so far × 100 / the length at open, rounded down: may pass 100 when the log
    // grew meanwhile. A log that was empty at open counts as read whole (100).
    int PercentRead() const;

    void Close();

  private:
    bool Fill();

    std::FILE* file_ = nullptr;
    platform::FileKind kind_ = platform::FileKind::Missing;
    std::uint64_t length_ = 0;
    std::uint64_t consumed_ = 0;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;  // first unread byte in buffer_
    std::size_t end_ = 0;    // one past the last byte read into buffer_
    bool atEnd_ = false;
};

}  // namespace tally::reports
