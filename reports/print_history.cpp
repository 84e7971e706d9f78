#include "reports/print_history.h"

#include <algorithm>

namespace tally::reports {
namespace {

constexpr std::size_t kReadableNameColumns = 10;

// The line's user as the group test asks for it: a quoted first field without its quotes (up to
// the next quote), otherwise the first word.
std::string_view FirstField(std::string_view line) {
    if (!line.empty() && line.front() == '"') {
        const std::string_view rest = line.substr(1);
        return rest.substr(0, rest.find('"'));
    }
    return line.substr(0, line.find_first_of(" \r\n"));
}

}  // namespace

PrintHistory::PrintHistory(HistorySubject subject, AmountMode mode, MembershipTest isMember)
    : fullName_(subject.fullName.empty() ? subject.selectionText : subject.fullName),
      workingName_(subject.group ? fullName_ : subject.selectionText),
      quotedName_("\"" + fullName_ + "\""),
      comparedLength_(std::min(workingName_.size(), kReadableNameColumns)),
      group_(subject.group),
      mode_(mode),
      isMember_(std::move(isMember)) {}

std::string PrintHistory::Header() const {
    return "   " + fullName_ + " Print History\r\n";
}

bool PrintHistory::IsMember(std::string_view firstField) {
    if (!group_ || !isMember_ || firstField.empty()) {
        return false;
    }
    const std::uint32_t known = answers_.Find(firstField);
    if (known != NameIndex::kMissing) {
        return known != 0;
    }
    const bool member = isMember_(std::string(firstField));
    answers_.Insert(firstField, member ? 1 : 0);
    return member;
}

void PrintHistory::Count(const PagesAndCost& found) {
    if (found.pages != 0) {
        lastAdded_ = found;
        totalPages_ = SaturatingAdd(totalPages_, found.pages);
        totalCost_.Add(found.cost);
    }
}

bool PrintHistory::Take(std::string_view line) {
    lastAdded_ = {};
    const bool quoted = !line.empty() && line.front() == '"';
    const bool readableName =
        line.size() > comparedLength_ && line[comparedLength_] == ' ' &&
        EqualsIgnoringCase(line.substr(0, comparedLength_),
                           std::string_view(workingName_).substr(0, comparedLength_));
    if (readableName || (!quoted && IsMember(FirstField(line)))) {
        if (!InPeriod(ReadableDate(line))) {
            return false;
        }
        Count(ReadableColumns(line, mode_));
        return true;
    }
    if (StartsWithIgnoringCase(line, quotedName_) || (quoted && IsMember(FirstField(line)))) {
        const std::size_t count = fields_.Split(line);
        if (cut_ &&
            !InPeriod(count >= kDateField ? fields_.Text(kDateField) : std::string_view())) {
            return false;
        }
        Count(DelimitedPagesAndCost(fields_, mode_));
        return true;
    }
    return false;
}

bool PrintHistory::InPeriod(std::string_view date) {
    if (!cut_) {
        return true;
    }
    const std::optional<CalendarDay> day = ReadLogDate(date, cut_->dateOrder);
    if (!day) {
        ++unreadableDates_;
        return false;
    }
    return cut_->period.Contains(*day);
}

std::string PrintHistory::Totals() const {
    return "\r\nTotal pages: " + std::to_string(totalPages_) +
           "\r\nTotal cost: " + CostText(totalCost_, mode_) + "\r\n";
}

bool HistoryProgress::Update(int percentRead) {
    // A log that was empty at open reads as 100 after every line: 100 is the most shown.
    if (percentRead % 10 == 0 && percentRead > shown_ && shown_ < 100) {
        shown_ += 10;
        return true;
    }
    return false;
}

}  // namespace tally::reports
