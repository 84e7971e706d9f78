#include "accounting/log_append.h"

LogAppendResult AppendLogRecord(const std::string& logPath, std::string_view record) {
    LogAppendResult result;
    LockedLog log = LockedLog::Open(logPath, result);
    if (!log.Held()) {
        return result;
    }
    return log.Append(record);
}
