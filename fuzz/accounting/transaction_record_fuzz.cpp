// Names and charge reasons reach the log as typed or as the directory holds them. Whatever they
// contain, a record must stay one line, and a delimited record must keep its 13 fields and its
// 18 quotes, since that is all the log's readers go by.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "accounting/transaction_record.h"

namespace {

// Splits the input at NUL bytes into the record's text fields.
std::string_view NextPart(std::string_view& rest) {
    const std::size_t end = rest.find('\0');
    const std::string_view part = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    return part;
}

std::size_t Count(const std::string& text, char c) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), c));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
    TransactionRecordInput in;
    in.layout = (data[0] & 1) != 0 ? LogLayout::Readable : LogLayout::AsciiDelimited;
    in.operation = static_cast<AccountOperation>((data[0] >> 1) & 3);
    in.mode = (data[0] & 8) != 0 ? MakeAmountMode(true, 2) : IntegerAmountMode();
    in.dateOrder = data[1] % 4;
    in.userName = NextPart(rest);
    in.userFullName = NextPart(rest);
    in.operatorName = NextPart(rest);
    in.operatorFullName = NextPart(rest);
    in.logServer = NextPart(rest);
    in.chargeReason = NextPart(rest);
    in.timeText = NextPart(rest);
    in.operationAmount = static_cast<std::int32_t>(rest.size() * 7919u) - 40000;
    in.date = {1999, 7, 4};

    const std::string line = ComposeTransactionRecord(in);
    if (line.find_first_of("\r\n") != line.size() - 2 || !line.ends_with("\r\n")) {
        std::abort();
    }
    if (in.layout == LogLayout::AsciiDelimited &&
        (Count(line, ',') != 12 || Count(line, '"') != 18)) {
        std::abort();
    }
    return 0;
}
