#include "accounting/account_attributes.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "directory/buffer_owner.h"
#include "directory/dirclient_setup.h"
#include "dirstore/names.h"
#include "program/session.h"
#include "program/settings.h"

namespace {

// Returned when a request buffer cannot be had, so the caller reports a failure it can see.
constexpr DirStatus kNoBuffer = -1;
// Returned for an operation number outside the four, which changes nothing.
constexpr DirStatus kUnknownOperation = -1;
// Octet strings are copied into the caller's area up to this many octets, network addresses up
// to kNetAddressOctets: the sizes of the areas the callers provide.
constexpr std::uint32_t kOctetStringOctets = 128;
constexpr std::uint32_t kNetAddressOctets = 12;
// The syntax of an attribute the schema does not define.
constexpr std::uint32_t kSyntaxUnknown = 0;

// The syntax number of the attribute's definition, kSyntaxUnknown when it cannot be read.
std::uint32_t DefinedSyntax(const char* attributeName, DirBuffer* request, DirBuffer* result) {
    std::int32_t iteration = DIR_NO_MORE_ITERATIONS;
    DirInitBuffer(DirectoryContext, DIR_REQ_READ_ATTR_DEF, request);
    DirPutAttrName(DirectoryContext, request, attributeName);
    if (DirReadAttrDefs(DirectoryContext, DIR_INFO_FULL_DEFINITIONS, 0, request, &iteration,
                        result) != DIR_OK) {
        return kSyntaxUnknown;
    }
    std::uint32_t count = 0;
    char name[DIR_MAX_NAME_BYTES];
    DirAttrInfo definition{};
    DirGetAttrCount(DirectoryContext, result, &count);
    if (DirGetAttrDef(DirectoryContext, result, name, &definition) != DIR_OK) {
        return kSyntaxUnknown;
    }
    return definition.attrSyntaxID;
}

DirStatus FetchOctetString(DirBuffer* result, void* value) {
    DirOctetString octets{};
    const DirStatus status = DirGetAttrValue(DirectoryContext, result, SYN_OCTET_STRING, &octets);
    if (status == DIR_OK && octets.data != nullptr) {
        std::memcpy(value, octets.data, std::min(octets.length, kOctetStringOctets));
    }
    return status;
}

// The caller's record names its own 12-byte area; only the octets the address has are copied,
// never more than that area holds.
DirStatus FetchNetAddress(DirBuffer* result, void* value) {
    DirNetAddress address{};
    const DirStatus status = DirGetAttrValue(DirectoryContext, result, SYN_NET_ADDRESS, &address);
    if (status == DIR_OK) {
        auto* target = static_cast<DirNetAddress*>(value);
        target->addressType = address.addressType;
        target->length = address.length;
        if (target->data != nullptr && address.data != nullptr) {
            std::memcpy(target->data, address.data, std::min(address.length, kNetAddressOctets));
        }
    }
    return status;
}

DirStatus FetchFirstValue(DirBuffer* result, std::uint32_t syntax, void* value) {
    switch (syntax) {
        case SYN_OCTET_STRING:
            return FetchOctetString(result, value);
        case SYN_NET_ADDRESS:
            return FetchNetAddress(result, value);
        default:
            return DirGetAttrValue(DirectoryContext, result, syntax, value);
    }
}

// Numbers read as 0; everything else (a flag, a string) as its first byte 0. An attribute of
// unknown syntax clears only one byte, which every caller's area has.
void ClearValue(std::uint32_t syntax, void* value) {
    if (syntax == SYN_INTEGER || syntax == SYN_COUNTER) {
        std::memset(value, 0, sizeof(std::int32_t));
    } else {
        std::memset(value, 0, 1);
    }
}

DirStatus ModifyOneValue(const DirBufferOwner& request, const char* objectName,
                         const char* attributeName, std::uint32_t syntax, const void* value,
                         std::uint32_t changeType) {
    DirInitBuffer(DirectoryContext, DIR_REQ_MODIFY, request.Get());
    DirPutChange(DirectoryContext, request.Get(), changeType, attributeName);
    DirPutAttrValue(DirectoryContext, request.Get(), syntax, value);
    return DirModifyObject(DirectoryContext, objectName, nullptr, 0, request.Get());
}

// After a change of the balance: the balance that change left, as the directory hands it back.
// A read made afterwards could already hold another writer's change, and the record would then
// carry a balance that this change never left. Only when the directory cannot tell (and after a
// refusal) is the balance read back.
void TakeProducedBalance(const char* objectName, DirStatus status, std::int32_t* balance) {
    const char* attribute = gSettings.Schema.BalanceAttribute.c_str();
    if (status != DIR_OK || !DirClientProducedNumber(attribute, balance)) {
        ReadAccountAttribute(objectName, attribute, balance);
    }
}

// Brings the stored balance to zero by subtracting `balance`. The most negative balance has no
// 32-bit opposite, so it is taken away in two additions that each fit the counter.
DirStatus SubtractBalance(const char* objectName, std::int32_t balance) {
    if (balance == std::numeric_limits<std::int32_t>::min()) {
        const DirStatus status = AdjustBalance(objectName, std::numeric_limits<std::int32_t>::max(),
                                               &AccountValues.Balance);
        if (status != DIR_OK) {
            return status;
        }
        return AdjustBalance(objectName, 1, &AccountValues.Balance);
    }
    return AdjustBalance(objectName, -balance, &AccountValues.Balance);
}

// The old balance is taken away first and the new one added. When taking it away fails, the new
// balance is not added: it would land on top of the old one and report success.
DirStatus SetBalance(const char* objectName) {
    const DirStatus status = SubtractBalance(objectName, AccountValues.Balance);
    if (status != DIR_OK) {
        return status;
    }
    return AdjustBalance(objectName, OperationAmount, &AccountValues.Balance);
}

// The flag first, then the limit: cleared when the flag is set, overwritten otherwise. A flag
// that could not be written stops the operation so that the failure is reported.
DirStatus SetLimit(const char* objectName) {
    const AccountSchema& schema = gSettings.Schema;
    const DirStatus status =
        WriteAccountAttribute(objectName, schema.UnlimitedAttribute.c_str(),
                              &AccountValues.Unlimited, DIR_CHANGE_OVERWRITE_VALUE);
    if (status != DIR_OK) {
        return status;
    }
    const std::uint32_t change =
        AccountValues.Unlimited != 0 ? DIR_CHANGE_CLEAR_ATTRIBUTE : DIR_CHANGE_OVERWRITE_VALUE;
    return WriteAccountAttribute(objectName, schema.LimitAttribute.c_str(), &OperationAmount,
                                 change);
}

}  // namespace

DirStatus ReadAccountAttribute(const char* objectName, const char* attributeName, void* value) {
    DirBufferOwner request(DIR_BUFFER_SIZE);
    DirBufferOwner result(DIR_BUFFER_SIZE);
    if (!request.Ok() || !result.Ok()) {
        ClearValue(kSyntaxUnknown, value);
        return kNoBuffer;
    }
    std::uint32_t syntax = DefinedSyntax(attributeName, request.Get(), result.Get());

    std::int32_t iteration = DIR_NO_MORE_ITERATIONS;
    DirInitBuffer(DirectoryContext, DIR_REQ_READ, request.Get());
    DirPutAttrName(DirectoryContext, request.Get(), attributeName);
    DirStatus status = DirRead(DirectoryContext, objectName, DIR_INFO_NAMES_AND_VALUES, 0,
                               request.Get(), &iteration, result.Get());
    if (status == DIR_OK) {
        std::uint32_t count = 0;
        std::uint32_t valueCount = 0;
        std::uint32_t valueSyntax = 0;
        char name[DIR_MAX_NAME_BYTES];
        DirGetAttrCount(DirectoryContext, result.Get(), &count);
        status = DirGetAttrName(DirectoryContext, result.Get(), name, &valueCount, &valueSyntax);
        if (status == DIR_OK) {
            syntax = valueSyntax;
            status = FetchFirstValue(result.Get(), syntax, value);
        }
    }
    if (status != DIR_OK) {
        ClearValue(syntax, value);
    }
    return status;
}

DirStatus ReadAccountValues(const char* objectName, AccountValuesRecord& values) {
    values = {};
    DirBufferOwner request(DIR_BUFFER_SIZE);
    DirBufferOwner result(DIR_BUFFER_SIZE);
    if (!request.Ok() || !result.Ok()) {
        return kNoBuffer;
    }
    const AccountSchema& schema = gSettings.Schema;
    DirInitBuffer(DirectoryContext, DIR_REQ_READ, request.Get());
    for (const std::string* attribute :
         {&schema.BalanceAttribute, &schema.LimitAttribute, &schema.UnlimitedAttribute}) {
        DirPutAttrName(DirectoryContext, request.Get(), attribute->c_str());
    }
    std::int32_t iteration = DIR_NO_MORE_ITERATIONS;
    DirStatus status = DirRead(DirectoryContext, objectName, DIR_INFO_NAMES_AND_VALUES, 0,
                               request.Get(), &iteration, result.Get());
    if (status == DIR_ERR_NO_SUCH_ATTRIBUTE) {
        return DIR_OK;  // none of the three: a user without an account reads 0
    }
    std::uint32_t count = 0;
    if (status == DIR_OK) {
        status = DirGetAttrCount(DirectoryContext, result.Get(), &count);
    }
    AccountValuesRecord found;
    for (std::uint32_t i = 0; status == DIR_OK && i < count; ++i) {
        char name[DIR_MAX_NAME_BYTES] = {};
        std::uint32_t valueCount = 0;
        std::uint32_t syntax = 0;
        status = DirGetAttrName(DirectoryContext, result.Get(), name, &valueCount, &syntax);
        for (std::uint32_t v = 0; status == DIR_OK && v < valueCount; ++v) {
            // Every value is taken from the buffer, the first one kept: an area as large as any
            // value the buffer can hold, whatever the syntax.
            alignas(std::int32_t) char area[DIR_BUFFER_SIZE] = {};
            status = FetchFirstValue(result.Get(), syntax, area);
            if (status != DIR_OK || v > 0) {
                continue;
            }
            if (tally::store::EqualsIgnoreCase(schema.BalanceAttribute, name)) {
                std::memcpy(&found.Balance, area, sizeof found.Balance);
            } else if (tally::store::EqualsIgnoreCase(schema.LimitAttribute, name)) {
                std::memcpy(&found.CreditLimit, area, sizeof found.CreditLimit);
            } else if (tally::store::EqualsIgnoreCase(schema.UnlimitedAttribute, name)) {
                std::memcpy(&found.Unlimited, area, sizeof found.Unlimited);
            }
        }
    }
    if (status == DIR_OK) {
        values = found;
    }
    return status;
}

DirStatus WriteAccountAttribute(const char* objectName, const char* attributeName,
                                const void* value, std::uint32_t changeType) {
    DirBufferOwner request(DIR_BUFFER_SIZE);
    if (!request.Ok()) {
        return kNoBuffer;
    }
    const std::uint32_t syntax =
        gSettings.Schema.LimitAttribute == attributeName ? SYN_INTEGER : SYN_BOOLEAN;
    return ModifyOneValue(request, objectName, attributeName, syntax, value, changeType);
}

// Without a buffer nothing was asked of the directory, so the balance is left as it was.
DirStatus AdjustBalance(const char* objectName, std::int32_t amount, std::int32_t* balance) {
    const char* attribute = gSettings.Schema.BalanceAttribute.c_str();
    DirStatus status = kNoBuffer;
    {
        DirBufferOwner request(DIR_BUFFER_SIZE);
        if (!request.Ok()) {
            return kNoBuffer;
        }
        status = ModifyOneValue(request, objectName, attribute, SYN_COUNTER, &amount,
                                DIR_CHANGE_ADD_VALUE);
    }
    TakeProducedBalance(objectName, status, balance);
    return status;
}

bool SendsAhead(AccountOperation operation) {
    return operation == AccountOperation::Deposit || operation == AccountOperation::Charge;
}

DirStatus SendAccountOperation(const char* objectName, DirBuffer* request) {
    if (!SendsAhead(CurrentOperation)) {
        return kUnknownOperation;
    }
    if (request == nullptr) {
        return kNoBuffer;
    }
    DirInitBuffer(DirectoryContext, DIR_REQ_MODIFY, request);
    DirPutChange(DirectoryContext, request, DIR_CHANGE_ADD_VALUE,
                 gSettings.Schema.BalanceAttribute.c_str());
    DirPutAttrValue(DirectoryContext, request, SYN_COUNTER, &OperationAmount);
    return DirClientSendModify(DirectoryContext, objectName, request);
}

DirStatus TakeAccountOperation(const char* objectName) {
    const DirStatus status = DirClientTakeModify();
    // A change that failed gets no record, so its balance is not read back: with a server gone
    // away, that read would cost a timeout for each change still on its way.
    if (status == DIR_OK) {
        TakeProducedBalance(objectName, status, &AccountValues.Balance);
    }
    return status;
}

DirStatus ApplyAccountOperation(const char* objectName) {
    switch (CurrentOperation) {
        case AccountOperation::Deposit:
        case AccountOperation::Charge:
            return AdjustBalance(objectName, OperationAmount, &AccountValues.Balance);
        case AccountOperation::SetBalance:
            return SetBalance(objectName);
        case AccountOperation::SetLimit:
            return SetLimit(objectName);
    }
    return kUnknownOperation;
}
