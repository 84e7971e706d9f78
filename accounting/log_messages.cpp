#include "accounting/log_messages.h"

namespace {

std::string_view WithoutTrailingLineBreak(std::string_view text) {
    if (text.ends_with("\r\n")) {
        return text.substr(0, text.size() - 2);
    }
    if (text.ends_with('\n') || text.ends_with('\r')) {
        return text.substr(0, text.size() - 1);
    }
    return text;
}

std::string FailureMessage(std::string_view lead, std::string_view path, std::string_view error) {
    std::string message(lead);
    message += path;
    message += ":\n";
    message += error;
    return message;
}

}  // namespace

std::string FormatSystemErrorText(std::string_view systemMessage, int code) {
    std::string text(WithoutTrailingLineBreak(systemMessage));
    if (!text.empty()) {
        text += ' ';
    }
    text += '(';
    text += std::to_string(code);
    text += ')';
    return text;
}

std::string LogOpenFailureMessage(std::string_view logPath, std::string_view errorText) {
    return FailureMessage("Unable to open ", logPath, errorText);
}

std::string LogWriteFailureMessage(std::string_view logPath, std::string_view errorText) {
    return FailureMessage("Unable to write to ", logPath, errorText);
}

std::string LogLockedMessage(std::string_view logPath) {
    return FailureMessage("Unable to write to ", logPath, "it is locked by another program.");
}

std::string LogWithheldMessage(std::string_view logPath, std::string_view errorText) {
    return FailureMessage("Unable to write to ", logPath,
                          "the directory could not save the changes to the disk (" +
                              std::string(errorText) + "), so their records were not written.");
}

std::string LogOutboxFailureMessage(std::string_view errorText) {
    return "Unable to keep the records of the changes for the accounting log:\n" +
           std::string(errorText);
}

std::string LogRecordsWaitingMessage(int count, std::string_view outbox) {
    return std::to_string(count) +
           (count == 1 ? " record of a change that was made waits in "
                       : " records of changes that were made wait in ") +
           std::string(outbox) + " and " + (count == 1 ? "is" : "are") +
           " appended to the log at the next start.";
}
