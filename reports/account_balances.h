// The balances of every user of the current context, one line each, as MainList lists them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "program/number_format.h"

namespace tally::reports {

// What reading one user's balance gave: a value (0 for a user without the attribute), or the
// status of a directory failure, which the report shows instead of a balance it does not know.
struct BalanceReading {
    bool read = true;
    std::int32_t balance = 0;
    std::int32_t status = 0;  // when not read
};

// One user's balance as the report reads it from the directory (ReadAccountAttribute), into a
// reading of its own: AccountValues stay as the selection left them. A missing attribute reads
// 0; any other failure is a balance not read.
BalanceReading ReadBalanceOf(const std::string& user);

// The report's base name: the context's name up to its first point ("SALES" for
// "SALES.CORP"), the whole name when it has none.
std::string BalancesBaseName(std::string_view contextName);

// The whole report: "  <context>: All Account Balances", then one line per user entry of
// `entries` in their order (groups and the all-users entry are passed over), the name
// left-aligned in maxUserNameLength + 2 characters, then the balance in 8 as the number format
// shows it. Lines end in CR LF.
std::string AccountBalancesReport(std::string_view contextName,
                                  const std::vector<std::string>& entries,
                                  std::size_t maxUserNameLength, const AmountMode& mode,
                                  const std::function<BalanceReading(const std::string&)>& read);

}  // namespace tally::reports
