#include "accounting/transaction_record.h"

#include <charconv>
#include <system_error>

namespace {

constexpr std::size_t kUserColumn = 10;
constexpr std::size_t kTagColumn = 8;
constexpr std::size_t kOperatorColumn = 12;
constexpr std::size_t kEmptyPagesColumns = 8;  // the print-job columns a transaction leaves blank
constexpr std::size_t kEmptyCostColumns = 4;
constexpr std::size_t kOperatorLoginChars = 63;
constexpr const char* kLineEnd = "\r\n";

bool IsControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

// Both layouts: nothing inside a field may end or break the line.
std::string ReadableField(std::string_view text) {
    std::string field(text);
    for (char& c : field) {
        if (IsControl(c)) {
            c = ' ';
        }
    }
    return field;
}

// "%-N.Ns": left-aligned, padded with blanks or cut to exactly `width` characters.
std::string FixedWidth(std::string_view text, std::size_t width) {
    std::string field(text.substr(0, width));
    field.resize(width, ' ');
    return field;
}

// ASCII delimited: nothing inside a quoted field may end the line, end the field or split it.
void AppendQuoted(std::string& line, std::string_view text) {
    line += '"';
    const std::size_t from = line.size();
    line += text;
    for (std::size_t i = from; i < line.size(); ++i) {
        char& c = line[i];
        if (IsControl(c)) {
            c = ' ';
        } else if (c == '"') {
            c = '\'';
        } else if (c == ',') {
            c = ';';
        }
    }
    line += "\",";
}

std::string DelimitedRecord(const TransactionRecordInput& in, const RecordAmounts& amounts) {
    std::string line;
    line.reserve(in.userFullName.size() + in.operatorFullName.size() + in.logServer.size() +
                 in.chargeReason.size() + 96);
    AppendQuoted(line, in.userFullName);
    AppendQuoted(line, TransactionTag(in.operation, in.chargeReason));
    AppendQuoted(line, in.operatorFullName);
    AppendQuoted(line, "");
    AppendQuoted(line, in.logServer);
    AppendQuoted(line, "");
    AppendQuoted(line, "");
    AppendQuoted(line, RecordDateText(in.date, in.dateOrder));
    AppendQuoted(line, in.timeText);
    line += ",,";  // fields 10 and 11 stay empty: a transaction has no pages
    line += AmountText(amounts.first, in.mode);
    line += ',';
    line += AmountText(amounts.second, in.mode);
    line += kLineEnd;
    return line;
}

std::string ReadableRecord(const TransactionRecordInput& in, const RecordAmounts& amounts) {
    std::string line;
    line += FixedWidth(ReadableField(in.userName), kUserColumn);
    line += ' ';
    line += FixedWidth(ReadableField(TransactionTag(in.operation, in.chargeReason)), kTagColumn);
    line += ' ';
    line += FixedWidth(ReadableField(OperatorShortName(in.operatorName)), kOperatorColumn);
    line += ' ';
    line += ReadableField(RecordDateText(in.date, in.dateOrder));
    line += ' ';
    line += ReadableField(in.timeText);
    line += ' ';
    line.append(kEmptyPagesColumns, ' ');
    line += ' ';
    line.append(kEmptyCostColumns, ' ');
    line += ' ';
    line += AmountColumnText(amounts.first, in.mode);
    line += ' ';
    line += AmountColumnText(amounts.second, in.mode);
    line += kLineEnd;
    return line;
}

}  // namespace

LogLayout LogLayoutFromFormat(int logFormat) {
    return logFormat == 0 ? LogLayout::Readable : LogLayout::AsciiDelimited;
}

namespace {

// "%d", and "%02d" with `twoDigits`.
void AppendDatePart(std::string& text, int part, bool twoDigits) {
    char digits[16];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, part);
    if (twoDigits && end - digits < 2) {
        text += '0';
    }
    text.append(digits, error == std::errc{} ? end : digits);
}

}  // namespace

std::string RecordDateText(const RecordDate& date, int dateOrder) {
    std::string text;
    switch (dateOrder) {
        case 1:
            AppendDatePart(text, date.day, true);
            text += '/';
            AppendDatePart(text, date.month, true);
            text += '/';
            AppendDatePart(text, date.year, false);
            break;
        case 2:
            AppendDatePart(text, date.year, false);
            text += '/';
            AppendDatePart(text, date.month, true);
            text += '/';
            AppendDatePart(text, date.day, true);
            break;
        default:
            AppendDatePart(text, date.month, true);
            text += '/';
            AppendDatePart(text, date.day, true);
            text += '/';
            AppendDatePart(text, date.year, false);
            break;
    }
    return text;
}

std::string OperatorShortName(std::string_view operatorName) {
    std::string_view name = operatorName.substr(0, kOperatorLoginChars);
    return std::string(name.substr(0, name.find('.')));
}

std::string TransactionTag(AccountOperation operation, std::string_view chargeReason) {
    switch (operation) {
        case AccountOperation::Deposit:
            return "Deposit";
        case AccountOperation::Charge:
            return chargeReason.empty() ? "Charge" : std::string(chargeReason);
        case AccountOperation::SetBalance:
            return "SetBal";
        case AccountOperation::SetLimit:
            return "SetLimit";
    }
    return "";
}

RecordAmounts TransactionAmounts(AccountOperation operation, std::int32_t operationAmount,
                                 std::int32_t balanceAfter, std::int32_t creditLimit) {
    switch (operation) {
        case AccountOperation::Deposit:
        case AccountOperation::Charge:
            return {operationAmount, balanceAfter};
        case AccountOperation::SetBalance:
            return {0, balanceAfter};
        case AccountOperation::SetLimit:
            return {0, creditLimit};
    }
    return {};
}

std::string ComposeTransactionRecord(const TransactionRecordInput& input) {
    const RecordAmounts amounts = TransactionAmounts(input.operation, input.operationAmount,
                                                     input.balanceAfter, input.creditLimit);
    return input.layout == LogLayout::Readable ? ReadableRecord(input, amounts)
                                               : DelimitedRecord(input, amounts);
}
