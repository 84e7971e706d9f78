#include "reports/account_balances.h"

#include "accounting/account_attributes.h"
#include "program/list_entries.h"
#include "program/settings.h"
#include "reports/log_records.h"

namespace tally::reports {
namespace {

constexpr std::size_t kBalanceWidth = 8;

}  // namespace

BalanceReading ReadBalanceOf(const std::string& user) {
    std::int32_t balance = 0;
    const DirStatus status =
        ReadAccountAttribute(user.c_str(), gSettings.Schema.BalanceAttribute.c_str(), &balance);
    if (status == DIR_OK || status == DIR_ERR_NO_SUCH_ATTRIBUTE) {
        return {true, status == DIR_OK ? balance : 0, 0};
    }
    return {false, 0, status};
}

std::string BalancesBaseName(std::string_view contextName) {
    return std::string(contextName.substr(0, contextName.find('.')));
}

std::string AccountBalancesReport(std::string_view contextName,
                                  const std::vector<std::string>& entries,
                                  std::size_t maxUserNameLength, const AmountMode& mode,
                                  const std::function<BalanceReading(const std::string&)>& read) {
    std::string out = "  " + std::string(contextName) + ": All Account Balances\r\n";
    for (const std::string& entry : entries) {
        if (!IsUserEntry(entry)) {
            continue;
        }
        const BalanceReading reading = read(entry);
        out += PadRight(entry, maxUserNameLength + 2) + " ";
        if (reading.read) {
            out += PadLeft(AmountText(reading.balance, mode), kBalanceWidth);
        } else {
            // Not a balance of 0: the directory did not give one.
            out += "(balance not read: error " + std::to_string(reading.status) + ")";
        }
        out += "\r\n";
    }
    return out;
}

}  // namespace tally::reports
