// The print history of one user or one group: every line of the accounting log that belongs to
// it, copied as read, then the total of pages and the total cost.
//
// A user's lines are found by the user's name: a Readable line begins with the name cut to 10
// characters and a blank, an ASCII delimited line begins with the user's full name in quotes
// (case ignored both ways). A group's lines are those that begin with the group's own name the
// same way, or whose user is a member of the group, as the directory answers; each name's answer
// is asked once per run.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "reports/log_records.h"
#include "reports/name_index.h"
#include "reports/report_periods.h"

namespace tally::reports {

struct HistorySubject {
    std::string selectionText;  // the selected entry's text, without the group marker
    std::string fullName;       // its full name from the directory; "" when it could not be had
    bool group = false;
};

class PrintHistory {
  public:
    // Answers whether a full name found in the log belongs to a member of the group; asked in
    // group mode only. A failing answer counts as no.
    using MembershipTest = std::function<bool(const std::string& name)>;

    PrintHistory(HistorySubject subject, AmountMode mode, MembershipTest isMember = {});

    // "   <full name> Print History\r\n"
    std::string Header() const;
    // From now on only lines dated inside the cut's period belong to the history.
    void CutToPeriod(const PeriodCut& cut) { cut_ = cut; }
    // The subject's lines left out because their date could not be read (with a period only).
    std::uint64_t UnreadableDates() const { return unreadableDates_; }

    // Whether `line` belongs to the history (the caller copies it as it is); its pages and cost
    // are added to the totals when it is a print job.
    bool Take(std::string_view line);
    // "\r\nTotal pages: <n>\r\nTotal cost: <cost>\r\n"
    std::string Totals() const;

    // What the last line taken added to the totals (nothing for a line that adds nothing).
    const PagesAndCost& LastAdded() const { return lastAdded_; }
    std::int64_t TotalPages() const { return totalPages_; }
    const Cost& TotalCost() const { return totalCost_; }
    const std::string& FullName() const { return fullName_; }

  private:
    bool IsMember(std::string_view firstField);
    bool InPeriod(std::string_view date);
    void Count(const PagesAndCost& found);

    std::string fullName_;            // F
    std::string workingName_;         // W: the selection for a user, F for a group
    std::string quotedName_;          // Q: F in double quotes
    std::size_t comparedLength_ = 0;  // n: W's length, at most 10
    bool group_ = false;
    AmountMode mode_;
    MembershipTest isMember_;
    NameIndex answers_{NameIndex::Case::Exact};  // a name met in the log -> 1 member, 0 not
    DelimitedFields fields_;
    PagesAndCost lastAdded_;
    std::int64_t totalPages_ = 0;
    Cost totalCost_;
    std::optional<PeriodCut> cut_;
    std::uint64_t unreadableDates_ = 0;
};

// The shown percentage of a history run: it rises by ten, and only on a line that ends at an
// exact multiple of ten percent of the length at open.
class HistoryProgress {
  public:
    // True when the shown value changed.
    bool Update(int percentRead);
    int Shown() const { return shown_; }

  private:
    int shown_ = 0;
};

}  // namespace tally::reports
