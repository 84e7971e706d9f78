#include "accounting/record_outbox.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <system_error>

namespace {

namespace fs = std::filesystem;
using tally::platform::AppendLock;

// More writers than this on one workstation at once are not expected; past it, a batch says
// that it found no free outbox.
constexpr int kMaxOutboxes = 64;

constexpr std::string_view kIntent = "intent";
constexpr std::string_view kRecord = "record";
constexpr std::string_view kRefused = "refused";
constexpr std::string_view kSending = "sending";
constexpr std::string_view kDelivered = "delivered";
constexpr std::string_view kLineEnd = "\r\n";

fs::path OutboxFile(const fs::path& folder, int number) {
    return folder / (number == 1 ? std::string("tallydsk.out")
                                 : "tallydsk." + std::to_string(number) + ".out");
}

// Fields are separated by tabs and entries by line feeds; a record has neither (its control
// characters are blanks), but a directory name may, so every field is written with control
// characters and "%" as %XX.
bool NeedsEscape(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || c == '%' || byte == 0x7F;
}

void AppendEscaped(std::string& out, std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::size_t plainFrom = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (NeedsEscape(text[i])) {
            const auto byte = static_cast<unsigned char>(text[i]);
            out.append(text.substr(plainFrom, i - plainFrom));
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
            plainFrom = i + 1;
        }
    }
    out.append(text.substr(plainFrom));
}

void AppendNumber(std::string& out, long long number) {
    char digits[24];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, number);
    out.append(digits, error == std::errc{} ? end : digits);
}

std::string Unescaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const std::string hex(text.substr(i + 1, 2));
            char* end = nullptr;
            const long value = std::strtol(hex.c_str(), &end, 16);
            if (end == hex.c_str() + 2) {
                out += static_cast<char>(value);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string_view WithoutLineEnd(std::string_view record) {
    return record.ends_with(kLineEnd) ? record.substr(0, record.size() - kLineEnd.size()) : record;
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
        if (tab == std::string_view::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

std::optional<std::int64_t> Number(std::string_view text) {
    if (text.empty() || text.size() > 20) {
        return std::nullopt;
    }
    const std::string copy(text);
    char* end = nullptr;
    const long long value = std::strtoll(copy.c_str(), &end, 10);
    if (end != copy.c_str() + copy.size()) {
        return std::nullopt;
    }
    return value;
}

// Whether `block` lies whole in the log at or after `from`.
bool LogHolds(const std::string& logPath, std::uint64_t from, const std::string& block) {
    bool exists = false;
    auto reader = tally::platform::ReadOnlyFile::Open(logPath, &exists, nullptr);
    std::string tail;
    if (!reader || !exists || !reader->Read(from, tally::platform::kToEnd, tail, nullptr)) {
        return false;
    }
    return std::search(tail.begin(), tail.end(), block.begin(), block.end()) != tail.end();
}

std::string Plural(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

OutboxContents ParseOutbox(std::string_view text) {
    OutboxContents contents;
    auto settleOldest = [&contents] {
        if (!contents.inFlight.empty()) {
            contents.inFlight.erase(contents.inFlight.begin());
        }
    };
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            // The last entry was cut short: its writer was stopped while writing it, before
            // the step it announces.
            ++contents.unreadLines;
            break;
        }
        const std::vector<std::string_view> fields = Fields(text.substr(start, end - start));
        start = end + 1;
        const std::string_view kind = fields.front();
        if (kind == kIntent && fields.size() == 6) {
            IntendedChange change;
            change.object = Unescaped(fields[1]);
            change.attribute = Unescaped(fields[2]);
            change.before = Number(fields[3]);
            const std::optional<std::int64_t> expected = Number(fields[4]);
            change.record = Unescaped(fields[5]) + std::string(kLineEnd);
            if (expected) {
                change.expected = *expected;
                contents.inFlight.push_back(std::move(change));
                continue;
            }
        } else if (kind == kRecord && fields.size() == 2) {
            contents.records.push_back(Unescaped(fields[1]) + std::string(kLineEnd));
            settleOldest();
            continue;
        } else if (kind == kRefused && fields.size() == 1) {
            settleOldest();
            continue;
        } else if (kind == kDelivered && fields.size() == 1) {
            contents.records.clear();
            contents.sentFrom.reset();
            contents.sentCount = 0;
            continue;
        } else if (kind == kSending && fields.size() == 2) {
            if (const std::optional<std::int64_t> offset = Number(fields[1]);
                offset && *offset >= 0) {
                const auto from = static_cast<std::uint64_t>(*offset);
                contents.sentFrom = std::min(contents.sentFrom.value_or(from), from);
                contents.sentCount = contents.records.size();
                continue;
            }
        }
        ++contents.unreadLines;
    }
    return contents;
}

InFlightVerdict JudgeInFlight(const IntendedChange& change, std::optional<std::int64_t> now) {
    if (!now) {
        return InFlightVerdict::Unknown;
    }
    // A change that leaves the value as it was (a set to the present value) is recorded: the
    // record then says nothing that is not so.
    if (*now == change.expected) {
        return InFlightVerdict::Made;
    }
    if (change.before && *now == *change.before) {
        return InFlightVerdict::NotMade;
    }
    return InFlightVerdict::Unknown;
}

std::optional<RecordOutbox> RecordOutbox::Claim(const fs::path& folder, std::string* error) {
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    for (int number = 1; number <= kMaxOutboxes; ++number) {
        bool busy = false;
        std::optional<RecordOutbox> outbox = Take(OutboxFile(folder, number), &busy, error);
        if (outbox || !busy) {
            return outbox;
        }
    }
    if (error) {
        *error = (folder / "tallydsk.*.out").string() + ": every outbox is in use";
    }
    return std::nullopt;
}

std::optional<RecordOutbox> RecordOutbox::Take(const fs::path& file, bool* busy,
                                               std::string* error) {
    std::optional<AppendLock> lock = AppendLock::TryAcquire(file, busy, error);
    if (!lock) {
        return std::nullopt;
    }
    RecordOutbox outbox(file, std::move(*lock));
    if (!tally::platform::ReadWholeFile(file, outbox.leftOver_, error) ||
        !outbox.Reopen("ab", error)) {
        return std::nullopt;
    }
    return outbox;
}

RecordOutbox::~RecordOutbox() = default;

bool RecordOutbox::Reopen(const char* mode, std::string* error) {
    file_.reset(std::fopen(path_.string().c_str(), mode));
    if (!file_ && error) {
        *error = path_.string() + ": cannot write the outbox";
    }
    return file_ != nullptr;
}

bool RecordOutbox::Note(const std::string& line, std::string* error, bool flush) {
    if (!file_ || std::fputs(line.c_str(), file_.get()) < 0 ||
        (flush && std::fflush(file_.get()) != 0)) {
        if (error) {
            *error = path_.string() + ": cannot write the outbox";
        }
        return false;
    }
    return true;
}

bool RecordOutbox::Flush(std::string* error) {
    if (!file_ || std::fflush(file_.get()) != 0) {
        if (error) {
            *error = path_.string() + ": cannot write the outbox";
        }
        return false;
    }
    return true;
}

bool RecordOutbox::NoteIntent(const IntendedChange& change, std::string* error, bool flush) {
    std::string line;
    line.reserve(change.object.size() + change.record.size() + 64);
    line += kIntent;
    line += '\t';
    AppendEscaped(line, change.object);
    line += '\t';
    AppendEscaped(line, change.attribute);
    line += '\t';
    if (change.before) {
        AppendNumber(line, *change.before);
    } else {
        line += '?';
    }
    line += '\t';
    AppendNumber(line, change.expected);
    line += '\t';
    AppendEscaped(line, WithoutLineEnd(change.record));
    line += '\n';
    return Note(line, error, flush);
}

bool RecordOutbox::NoteRecord(std::string_view record, std::string* error) {
    waiting_ += record;
    ++waitingCount_;
    std::string line;
    line.reserve(record.size() + 16);
    line += kRecord;
    line += '\t';
    AppendEscaped(line, WithoutLineEnd(record));
    line += '\n';
    return Note(line, error, false);
}

bool RecordOutbox::NoteRefused(std::string* error) {
    return Note(std::string(kRefused) + "\n", error);
}

void RecordOutbox::Resume(const std::vector<std::string>& records) {
    leftOver_.clear();
    waiting_.clear();
    for (const std::string& record : records) {
        waiting_ += record;
    }
    waitingCount_ = static_cast<int>(records.size());
}

bool RecordOutbox::NoteDelivered(std::string* error) {
    waiting_.clear();
    waitingCount_ = 0;
    return Note(std::string(kDelivered) + "\n", error);
}

bool RecordOutbox::Drop(std::string* error) {
    waiting_.clear();
    waitingCount_ = 0;
    leftOver_.clear();
    // Emptying the file is one step: a writer killed meanwhile leaves it whole or empty.
    return Reopen("wb", error);
}

LogAppendResult RecordOutbox::Deliver(const std::string& logPath, std::chrono::milliseconds wait) {
    if (waitingCount_ == 0) {
        return {};
    }
    // Before the log is touched, the outbox says where its records may land, and all of it is
    // on the disk: whatever happens next, the records are appended once, never twice.
    std::error_code noSize;
    const std::uintmax_t size = fs::file_size(logPath, noSize);
    std::string error;
    if (!Note(std::string(kSending) + "\t" + std::to_string(noSize ? 0 : size) + "\n", &error) ||
        !tally::platform::FlushFileToDisk(path_, &error)) {
        return {LogAppendStage::Write, error, waitingCount_};
    }
    {
        LogAppendResult result;
        LockedLog log = LockedLog::Open(logPath, result, wait);
        if (log.Held()) {
            result = log.Append(waiting_);
        }
        if (!result.Written()) {
            result.waitingRecords = waitingCount_;
            return result;
        }
    }
    Drop(nullptr);
    return {};
}

void RecoverOutbox(RecordOutbox& outbox, const std::string& logPath, std::chrono::milliseconds wait,
                   const AccountValueReader& reader, OutboxRecovery& recovery) {
    if (outbox.LeftOver().empty()) {
        return;
    }
    const OutboxContents contents = ParseOutbox(outbox.LeftOver());
    // The outbox is settled by adding to it, never by writing it anew, so that a start that is
    // killed in its turn leaves it as good as it found it.
    outbox.Resume(contents.records);
    std::string error;
    bool noted = true;
    if (contents.sentFrom && contents.sentCount == contents.records.size() &&
        !contents.records.empty()) {
        std::string block;
        for (const std::string& record : contents.records) {
            block += record;
        }
        if (LogHolds(logPath, *contents.sentFrom, block)) {
            noted = outbox.NoteDelivered(&error);
        }
    }
    for (const IntendedChange& change : contents.inFlight) {
        if (!noted) {
            break;
        }
        // The verdict is kept before anything is appended: asked again later, the directory
        // might answer otherwise, as other writers go on changing the account.
        switch (JudgeInFlight(change, reader(change.object, change.attribute))) {
            case InFlightVerdict::Made:
                noted = outbox.NoteRecord(change.record, &error);
                break;
            case InFlightVerdict::NotMade:
                noted = outbox.NoteRefused(&error);
                break;
            case InFlightVerdict::Unknown:
                recovery.doubtful.emplace_back(WithoutLineEnd(change.record));
                noted = outbox.NoteRefused(&error);
                break;
        }
    }
    if (!noted) {
        recovery.waiting += outbox.WaitingCount();
        recovery.waitingIn.push_back(outbox.Path().string());
        if (recovery.failure.Written()) {
            recovery.failure = {LogAppendStage::Write, error};
        }
        return;
    }
    if (outbox.WaitingCount() == 0) {
        outbox.Drop(nullptr);
        return;
    }
    const int count = outbox.WaitingCount();
    const LogAppendResult delivered = outbox.Deliver(logPath, wait);
    if (delivered.Written()) {
        recovery.appended += count;
        return;
    }
    recovery.waiting += count;
    recovery.waitingIn.push_back(outbox.Path().string());
    if (recovery.failure.Written()) {
        recovery.failure = delivered;
    }
}

OutboxRecovery RecoverWaitingRecords(const fs::path& folder, const std::string& logPath,
                                     std::chrono::milliseconds wait,
                                     const AccountValueReader& reader) {
    OutboxRecovery recovery;
    for (int number = 1; number <= kMaxOutboxes; ++number) {
        const fs::path file = OutboxFile(folder, number);
        std::error_code noSize;
        const std::uintmax_t size = fs::file_size(file, noSize);
        if (noSize || size == 0) {
            continue;
        }
        // An outbox that is held belongs to a running writer, which delivers it itself.
        bool busy = false;
        if (std::optional<RecordOutbox> outbox = RecordOutbox::Take(file, &busy, nullptr)) {
            RecoverOutbox(*outbox, logPath, wait, reader, recovery);
        }
    }
    return recovery;
}

std::string OutboxRecoveryMessage(const OutboxRecovery& recovery) {
    std::string message;
    auto paragraph = [&](const std::string& text) {
        message += (message.empty() ? "" : "\n\n") + text;
    };
    if (recovery.appended > 0) {
        paragraph(Plural(static_cast<std::size_t>(recovery.appended), "transaction record",
                         "transaction records") +
                  " left waiting by an earlier run " + (recovery.appended == 1 ? "was" : "were") +
                  " appended to the accounting log.");
    }
    if (recovery.waiting > 0) {
        std::string where;
        for (const std::string& outbox : recovery.waitingIn) {
            where += (where.empty() ? "" : ", ") + outbox;
        }
        paragraph(Plural(static_cast<std::size_t>(recovery.waiting), "transaction record is",
                         "transaction records are") +
                  " waiting in " + where + " for the accounting log, which could not be written (" +
                  (recovery.failure.stage == LogAppendStage::Locked
                       ? std::string("it is locked by another program")
                       : recovery.failure.errorText) +
                  "). They are appended at the next start.");
    }
    if (!recovery.doubtful.empty()) {
        std::string lines;
        for (const std::string& record : recovery.doubtful) {
            lines += "\n" + record;
        }
        paragraph(
            "An earlier run was stopped while it changed an account, and the directory cannot "
            "tell whether the change was made, so it was not recorded. Check " +
            std::string(recovery.doubtful.size() == 1 ? "this account" : "these accounts") +
            " against the record it would have had:" + lines);
    }
    return message;
}
