// The directory client and the NetWare calls library, as TallyDesk uses them.
//
// These are the only ways the program reaches the directory and the servers. Every operation
// keeps the argument order, request kinds, buffer sizes, iteration rule, syntax numbers, value
// forms, change types and context keys that the rest of the program passes and tests; how they
// are carried out behind this header (the embedded LDIF store by default) is the client's own
// business. Status 0 is success; every failure is a non-zero status of the client's own
// (see DirStatusCode below); callers only ever test for zero.
//
// Plain C++ with no <windows.h>: the same client serves the Windows program and the native tests.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------------------------
// Shared types and numbers
// ---------------------------------------------------------------------------------------------

using DirStatus = std::int32_t;
using DirContextHandle = std::int32_t;
using NetStatus = std::int32_t;
using NetConnectionHandle = std::uint32_t;

// Failure statuses of this client (0 is success). Negative, in the range directory clients use.
enum DirStatusCode : DirStatus {
    DIR_OK = 0,
    DIR_ERR_NOT_LOGGED_IN = -301,
    DIR_ERR_BAD_CONTEXT = -302,   // unknown or freed context handle
    DIR_ERR_BAD_KEY = -303,       // context key other than 1 or 3
    DIR_ERR_BAD_BUFFER = -304,    // null buffer, or buffer not prepared for this request kind
    DIR_ERR_BUFFER_FULL = -305,   // a request does not fit its buffer
    DIR_ERR_BUFFER_EMPTY = -306,  // reading past the end of a result
    DIR_ERR_NO_SUCH_ENTRY = -601,
    DIR_ERR_NO_SUCH_VALUE = -602,
    DIR_ERR_NO_SUCH_ATTRIBUTE = -603,
    DIR_ERR_NO_SUCH_CLASS = -604,
    DIR_ERR_BAD_SYNTAX = -613,     // a value that the attribute's syntax cannot hold
    DIR_ERR_BAD_ITERATION = -614,  // an iteration handle the client does not know
    DIR_ERR_ILLEGAL_NAME = -615,   // a name that cannot be resolved to a context or entry
    DIR_ERR_STORE = -650,          // the store could not be read or written
    DIR_ERR_LOCKED = -652,         // another program held the store's lock past the wait
    DIR_ERR_UNAVAILABLE = -653,    // the directory server could not be reached, or went away
    DIR_ERR_NO_ACCESS = -672,      // the directory server refused: the login may not do that
    DIR_ERR_NO_MEMORY = -150,
    NET_ERR_NO_CONNECTION = -880,
    NET_ERR_NO_MORE_OBJECTS = -881,
    NET_ERR_BAD_CONNECTION = -882,
};

// Context keys (DirGetContextValue / DirSetContextValue).
inline constexpr std::int32_t DIR_CTX_FLAGS = 1;         // 32-bit flag word, passed by address
inline constexpr std::int32_t DIR_CTX_NAME_CONTEXT = 3;  // string: the current context
// Flag: names are exchanged without type prefixes (a user's name, then its containers, joined
// by points: "JSMITH.SALES.CORP").
inline constexpr std::uint32_t DIR_FLAG_TYPELESS_NAMES = 4;

// The name of the top of the tree, as the name context reports it there.
inline constexpr const char* DIR_ROOT_NAME = "[Root]";

// Buffer sizes and request kinds.
inline constexpr std::size_t DIR_BUFFER_SIZE = 4096;         // every use but the class read
inline constexpr std::size_t DIR_CLASS_BUFFER_SIZE = 16384;  // class-definition read
inline constexpr std::uint32_t DIR_REQ_READ = 3;
inline constexpr std::uint32_t DIR_REQ_COMPARE = 4;
inline constexpr std::uint32_t DIR_REQ_MODIFY = 9;
inline constexpr std::uint32_t DIR_REQ_READ_ATTR_DEF = 12;
inline constexpr std::uint32_t DIR_REQ_READ_CLASS_DEF = 15;

// Iteration handles start at -1 and come back -1 when nothing more follows.
inline constexpr std::int32_t DIR_NO_MORE_ITERATIONS = -1;

// Syntax numbers and the value forms exchanged for them.
inline constexpr std::uint32_t SYN_DIST_NAME = 1;     // NUL-terminated string
inline constexpr std::uint32_t SYN_CI_STRING = 3;     // NUL-terminated string (e.g. "Full Name")
inline constexpr std::uint32_t SYN_BOOLEAN = 7;       // one byte, 0 or 1
inline constexpr std::uint32_t SYN_INTEGER = 8;       // std::int32_t
inline constexpr std::uint32_t SYN_OCTET_STRING = 9;  // DirOctetString
inline constexpr std::uint32_t SYN_NET_ADDRESS = 12;  // DirNetAddress
inline constexpr std::uint32_t SYN_CLASS_NAME = 20;   // NUL-terminated string
inline constexpr std::uint32_t SYN_COUNTER = 22;      // std::int32_t

struct DirOctetString {
    std::uint32_t length;
    std::uint8_t* data;
};

struct DirNetAddress {
    std::uint32_t addressType;
    std::uint32_t length;
    std::uint8_t* data;
};

// Change types of a modify request.
inline constexpr std::uint32_t DIR_CHANGE_ADD_VALUE = 2;  // on a counter, the value is added
inline constexpr std::uint32_t DIR_CHANGE_OVERWRITE_VALUE = 5;
inline constexpr std::uint32_t DIR_CHANGE_CLEAR_ATTRIBUTE = 6;

// DirRead information types.
inline constexpr std::uint32_t DIR_INFO_NAMES_AND_VALUES = 1;
inline constexpr std::uint32_t DIR_INFO_FULL_DEFINITIONS = 1;

// Names: every name buffer handed to the client holds at least this many bytes.
inline constexpr std::size_t DIR_MAX_NAME_BYTES = 257;  // 256 characters and the NUL
inline constexpr std::size_t NET_MAX_SERVER_NAME_BYTES = 48;

// Records returned beside names; the program uses only the fields named in comments.
struct DirObjectInfo {
    std::uint32_t objectFlags;
    std::uint32_t subordinateCount;
    std::uint32_t modificationTime;
    char baseClass[DIR_MAX_NAME_BYTES];
};

struct DirAttrInfo {
    std::uint32_t attrFlags;
    std::uint32_t attrSyntaxID;  // the second 32-bit field: the syntax number
    std::uint32_t attrLower;
    std::uint32_t attrUpper;
};

struct DirClassInfo {
    std::uint32_t classFlags;
    std::uint32_t itemListCount;  // always 5: super classes, containment, naming,
                                  // mandatory and optional attributes
};

struct DirBuffer;  // opaque; made by DirAllocBuffer

// ---------------------------------------------------------------------------------------------
// Directory client
// ---------------------------------------------------------------------------------------------

// Context and names
std::int32_t DirIsLoggedIn();
DirContextHandle DirCreateContext();
DirStatus DirFreeContext(DirContextHandle context);
DirStatus DirGetContextValue(DirContextHandle context, std::int32_t key, void* value);
DirStatus DirSetContextValue(DirContextHandle context, std::int32_t key, const void* value);
DirStatus DirGetLoginName(DirContextHandle context, char* name);
DirStatus DirGetFullName(DirContextHandle context, const char* name, char* fullName);

// Requests
DirStatus DirAllocBuffer(std::size_t size, DirBuffer** buffer);
DirStatus DirFreeBuffer(DirBuffer* buffer);
DirStatus DirInitBuffer(DirContextHandle context, std::uint32_t kind, DirBuffer* buffer);
DirStatus DirPutAttrName(DirContextHandle context, DirBuffer* buffer, const char* attrName);
DirStatus DirPutChange(DirContextHandle context, DirBuffer* buffer, std::uint32_t changeType,
                       const char* attrName);
DirStatus DirPutAttrValue(DirContextHandle context, DirBuffer* buffer, std::uint32_t syntax,
                          const void* value);
DirStatus DirPutClassName(DirContextHandle context, DirBuffer* buffer, const char* className);

// Operations
DirStatus DirRead(DirContextHandle context, const char* objectName, std::uint32_t infoType,
                  std::uint8_t allAttrs, DirBuffer* request, std::int32_t* iterationHandle,
                  DirBuffer* result);
DirStatus DirReadAttrDefs(DirContextHandle context, std::uint32_t infoType, std::uint8_t allAttrs,
                          DirBuffer* request, std::int32_t* iterationHandle, DirBuffer* result);
DirStatus DirReadClassDefs(DirContextHandle context, std::uint32_t infoType,
                           std::uint8_t allClasses, DirBuffer* request,
                           std::int32_t* iterationHandle, DirBuffer* result);
DirStatus DirModifyObject(DirContextHandle context, const char* objectName,
                          std::int32_t* iterationHandle, std::uint8_t moreIterations,
                          DirBuffer* changes);
DirStatus DirCompare(DirContextHandle context, const char* objectName, DirBuffer* request,
                     std::uint8_t* matched);
DirStatus DirListByClass(DirContextHandle context, const char* container, const char* className,
                         const char* subordinateName, std::int32_t* iterationHandle,
                         DirBuffer* result);

// Reading a result: each moves on through the result buffer.
DirStatus DirGetObjectCount(DirContextHandle context, DirBuffer* result, std::uint32_t* count);
DirStatus DirGetObjectName(DirContextHandle context, DirBuffer* result, char* objectName,
                           std::uint32_t* attrCount, DirObjectInfo* info);
DirStatus DirGetAttrCount(DirContextHandle context, DirBuffer* result, std::uint32_t* count);
DirStatus DirGetAttrName(DirContextHandle context, DirBuffer* result, char* attrName,
                         std::uint32_t* valueCount, std::uint32_t* syntax);
DirStatus DirGetAttrValue(DirContextHandle context, DirBuffer* result, std::uint32_t syntax,
                          void* value);
DirStatus DirGetAttrDef(DirContextHandle context, DirBuffer* result, char* attrName,
                        DirAttrInfo* definition);
DirStatus DirGetClassDefCount(DirContextHandle context, DirBuffer* result, std::uint32_t* count);
DirStatus DirGetClassDef(DirContextHandle context, DirBuffer* result, char* className,
                         DirClassInfo* info);
DirStatus DirGetClassItemCount(DirContextHandle context, DirBuffer* result, std::uint32_t* count);
DirStatus DirGetClassItem(DirContextHandle context, DirBuffer* result, char* itemName);

// ---------------------------------------------------------------------------------------------
// NetWare calls library
// ---------------------------------------------------------------------------------------------

// Bindery object type of a file server, as callers pass it: 0x0004 in high-low byte order.
inline constexpr std::uint16_t NET_OT_FILE_SERVER = 0x0400;

NetStatus NetInitLibrary(void* reserved1, void* reserved2);
NetStatus NetFindConnection(const char* serverName, std::uint32_t reserved1,
                            NetConnectionHandle* connection, std::uint32_t reserved2);
NetStatus NetGetDefaultConnection(NetConnectionHandle* connection);
NetStatus NetGetServerName(NetConnectionHandle connection, char* serverName);
NetStatus NetScanObjects(NetConnectionHandle connection, const char* namePattern,
                         std::uint16_t objectType, std::int32_t* objectId, char* objectName,
                         std::uint16_t* foundType, std::uint8_t* hasProperties,
                         std::uint8_t* objectFlags, std::uint8_t* objectSecurity);
