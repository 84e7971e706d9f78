#include "reports/account_balances.h"

#include <charconv>

#include "reports/log_records.h"

namespace tally::reports {
namespace {

constexpr std::string_view kAllUsersEntry = "* (All users in this context)";
constexpr std::string_view kGroupMarker = " (Group)";
constexpr std::size_t kBalanceWidth = 8;

std::string BalanceText(std::int32_t balance, const BalanceFormat& format) {
    if (!format.decimal) {
        return std::to_string(balance);
    }
    const double shown = static_cast<double>(balance) / static_cast<double>(format.amountScale);
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text, shown, std::chars_format::fixed, format.digits);
    return result.ec == std::errc{} ? std::string(text, result.ptr) : std::string("0");
}

}  // namespace

std::string BalancesBaseName(std::string_view contextName) {
    return std::string(contextName.substr(0, contextName.find('.')));
}

std::string AccountBalancesReport(std::string_view contextName,
                                  const std::vector<std::string>& entries,
                                  std::size_t maxUserNameLength, const BalanceFormat& format,
                                  const std::function<BalanceReading(const std::string&)>& read) {
    std::string out = "  " + std::string(contextName) + ": All Account Balances\r\n";
    for (const std::string& entry : entries) {
        if (entry == kAllUsersEntry || entry.find(kGroupMarker) != std::string::npos) {
            continue;
        }
        const BalanceReading reading = read(entry);
        out += PadRight(entry, maxUserNameLength + 2) + " ";
        if (reading.read) {
            out += PadLeft(BalanceText(reading.balance, format), kBalanceWidth);
        } else {
            // Not a balance of 0: the directory did not give one.
            out += "(balance not read: error " + std::to_string(reading.status) + ")";
        }
        out += "\r\n";
    }
    return out;
}

}  // namespace tally::reports
