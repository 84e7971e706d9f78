// A user's print account in the directory: balance, credit limit and unlimited-credit flag, under
// the attribute names of the account schema in force (gSettings.Schema), read and changed through
// the directory client on DirectoryContext. The values read last are in AccountValues
// (program/values.h).
#pragma once

#include <cstdint>

#include "directory/dirclient.h"
#include "program/values.h"

// Reads the first value of `attributeName` of `objectName` into `value` in its syntax's form
// (32 bits for integers and counters, one byte for Booleans, a string otherwise); a value that
// cannot be read is cleared by syntax. Returns the status of the read.
DirStatus ReadAccountAttribute(const char* objectName, const char* attributeName, void* value);

// Balance, credit limit and unlimited flag of `objectName` in one read (a directory server is
// asked once, not once for each): each as ReadAccountAttribute reads it, an attribute the user
// lacks reading 0. Returns the read's status, DIR_OK also when some or all of the three are
// absent; on failure all three read 0.
DirStatus ReadAccountValues(const char* objectName, AccountValuesRecord& values);

// One change (overwrite or clear) of the credit limit or the unlimited flag.
DirStatus WriteAccountAttribute(const char* objectName, const char* attributeName,
                                const void* value, std::uint32_t changeType);

// Adds `amount` to the user's balance counter, then reads the balance back into `balance`.
DirStatus AdjustBalance(const char* objectName, std::int32_t amount, std::int32_t* balance);

// Applies CurrentOperation with OperationAmount and AccountValues to one user.
DirStatus ApplyAccountOperation(const char* objectName);

// A deposit or charge sent ahead of its answer (DirClientSendModify): the increment of
// OperationAmount to the user's balance. DIR_OK when it is on its way (its outcome to be taken
// by TakeAccountOperation), else why it was not sent. Only these two operations go ahead: the
// others read or write more than one value.
// `request` is a buffer of DIR_BUFFER_SIZE the caller keeps for a whole batch: one per change
// would cost more than the rest of the change.
bool SendsAhead(AccountOperation operation);
DirStatus SendAccountOperation(const char* objectName, DirBuffer* request);
// The outcome of the oldest deposit or charge sent ahead, the balance it left in
// AccountValues.Balance (read back from `objectName` when the directory cannot tell).
DirStatus TakeAccountOperation(const char* objectName);
