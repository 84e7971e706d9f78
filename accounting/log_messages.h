// The texts the operator sees when a transaction record cannot reach the log.
#pragma once

#include <string>
#include <string_view>

// "<system text> (<code>)": the system's message for an error code without the line break that
// such messages end with. Only a real line break is taken off, so a message that lacks one keeps
// its last characters; without any message the code stands alone, "(53)".
std::string FormatSystemErrorText(std::string_view systemMessage, int code);

// "Unable to open <path>:\n<error text>"
std::string LogOpenFailureMessage(std::string_view logPath, std::string_view errorText);

// "Unable to write to <path>:\n<error text>"
std::string LogWriteFailureMessage(std::string_view logPath, std::string_view errorText);

// "Unable to write to <path>:\nit is locked by another program."
std::string LogLockedMessage(std::string_view logPath);

// The records of changes that the directory could not save to the disk are not written.
std::string LogWithheldMessage(std::string_view logPath, std::string_view errorText);

// The outbox of records that wait for the log could not be written, so nothing was changed.
std::string LogOutboxFailureMessage(std::string_view errorText);

// "<n> record(s) ... wait(s) in <outbox> and are appended to the log at the next start."
std::string LogRecordsWaitingMessage(int count, std::string_view outbox);
