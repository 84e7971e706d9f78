#include "accounting/log_append.h"

LogAppendResult AppendLogRecord(const std::string& logPath, std::string_view record) {
    LogAppendResult result;
    LockedLog log = LockedLog::open(logPath, result);
    if (!log.held()) {
        return result;
    }
    return log.append(record);
}
