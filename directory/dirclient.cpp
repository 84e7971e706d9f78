// The directory calls over the embedded store.
//
// Names at this interface are typeless and relative to the context's name context; the store
// knows only complete names, so every name is completed here first. Results are laid out whole
// at the first call and handed out one buffer-sized chunk per call; the chunks not yet handed
// out wait in the context's iteration table under the handle the caller holds.
#include "directory/dirclient.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "directory/buffer_bytes.h"
#include "directory/dirclient_names.h"
#include "directory/dirclient_results.h"
#include "directory/dirclient_setup.h"
#include "directory/dirclient_state.h"
#include "directory/dirclient_values.h"
#include "dirstore/entry_mapping.h"
#include "ldapstore/ldap_store.h"

using namespace tally::directory;
namespace store = tally::store;

namespace {

constexpr std::size_t kLargestBuffer = 1u << 20;
constexpr std::size_t kKeptIterations = 32;

// Nothing thrown below may reach the program, which knows only statuses.
template <typename Call>
DirStatus Guarded(Call&& call) {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        NoteProblem("the directory client ran out of memory");
        return DIR_ERR_NO_MEMORY;
    } catch (const std::exception& error) {
        NoteProblem(std::string("the directory store failed: ") + error.what());
        return DIR_ERR_STORE;
    }
}

Context* FindContext(DirContextHandle handle) {
    auto& contexts = TheClientState().contexts;
    auto found = contexts.find(handle);
    return found == contexts.end() ? nullptr : &found->second;
}

bool IsLiveBuffer(const DirBuffer* buffer) {
    return buffer != nullptr && TheClientState().buffers.count(const_cast<DirBuffer*>(buffer)) != 0;
}

bool IsContainer(const store::Entry& entry) {
    return SameName(entry.objectClass, "Organization") ||
           SameName(entry.objectClass, "Organizational Unit");
}

// The entry a name stands for as far as its name, class and place go. A server's store answers
// from what this session has seen of it, without asking again; the embedded store holds
// everything in memory anyway.
const store::Entry* KnownEntry(store::Store& directory, std::string_view name) {
    if (const auto* server = dynamic_cast<const tally::ldap::LdapStore*>(&directory)) {
        return server->FindKnown(name);
    }
    return directory.Find(name);
}

// The object a name means in this context. The name is taken relative to the name context
// first; a complete name that the program kept from earlier (the login name, a group's member)
// is taken as written when the relative reading names nothing.
std::optional<std::string> ResolveName(store::Store& directory, std::string_view name,
                                       const Context& context) {
    std::optional<std::string> relative = CompleteName(name, context.nameContext);
    if (relative) {
        if (const store::Entry* entry = KnownEntry(directory, *relative)) {
            return entry->name;
        }
    }
    if (!name.empty() && name.front() != '.' && name.back() != '.') {
        if (std::optional<std::string> written = AsWrittenName(name)) {
            if (const store::Entry* entry = KnownEntry(directory, *written)) {
                return entry->name;
            }
        }
    }
    // A directory server's login may live outside the tree the client shows (a service
    // account beside the base, the database's root): its name, all its RDN values, is complete
    // in itself and means that login whatever the context, as DirGetLoginName gave it.
    if (const auto* server = dynamic_cast<const tally::ldap::LdapStore*>(&directory);
        server != nullptr) {
        const std::string_view named = name.substr(!name.empty() && name.front() == '.' ? 1 : 0);
        if (!server->BoundName().empty() && store::EqualsIgnoreCase(named, server->BoundName())) {
            return server->BoundName();
        }
    }
    return relative;
}

// The status of an object that was not found: there is none of that name, or (for a store on a
// server) the server could not be asked, which the last problem then tells.
DirStatus NotFound(const store::Store& directory) {
    const store::Status failure = directory.LookupFailure();
    if (failure == store::kOk) {
        return DIR_ERR_NO_SUCH_ENTRY;
    }
    if (!directory.Warnings().empty()) {
        NoteProblem(directory.Warnings().back().message);
    }
    return static_cast<DirStatus>(failure);
}

// A change the store refused for a reason of its own (not the request's): the reason is the
// last problem, so that the operator can be told more than a number.
DirStatus ChangeStatus(const store::Store& directory, store::Status status) {
    if ((status == store::kNoAccess || status == store::kUnavailable ||
         status == store::kIoError) &&
        !directory.Warnings().empty()) {
        NoteProblem(directory.Warnings().back().message);
    }
    return static_cast<DirStatus>(status);
}

// `currentValues`: the caller shows or compares the entry's values, which must be those the
// directory holds now; else the entry this session knows will do (a change is checked by the
// server itself, and a name or class does not change under a batch).
const store::Entry* FindObject(store::Store& directory, const char* name, const Context& context,
                               bool currentValues = true) {
    if (name == nullptr) {
        return nullptr;
    }
    std::optional<std::string> complete = ResolveName(directory, name, context);
    if (!complete) {
        return nullptr;
    }
    return currentValues ? directory.Find(*complete) : KnownEntry(directory, *complete);
}

std::uint32_t SyntaxOf(const store::Store& directory, std::string_view attribute,
                       std::uint32_t otherwise) {
    const store::AttributeDef* definition = directory.Attribute(attribute);
    return definition != nullptr ? definition->syntax : otherwise;
}

std::string InitialNameContext() {
    const ClientConfig& config = LoadedConfig();
    if (config.loginContext.empty() || IsRootName(config.loginContext)) {
        return DIR_ROOT_NAME;
    }
    store::Store* directory = CurrentStore();
    if (directory == nullptr) {
        return DIR_ROOT_NAME;
    }
    std::optional<std::string> written = AsWrittenName(config.loginContext);
    const store::Entry* entry = written ? directory->Find(*written) : nullptr;
    if (entry == nullptr || !IsContainer(*entry)) {
        NoteProblem(config.iniFile.string() + ": [Login] Context '" + config.loginContext +
                    "' is not a container of the directory; starting at [Root]");
        return DIR_ROOT_NAME;
    }
    return entry->name;
}

struct RequestRecord {
    RequestTag tag;
    std::uint32_t number = 0;  // change type or syntax
    std::string name;
    Bytes value;
};

bool ParseRequest(const DirBuffer& buffer, std::vector<RequestRecord>& records) {
    ByteReader reader = buffer.RequestReader();
    while (!reader.AtEnd()) {
        std::uint8_t tag = 0;
        RequestRecord record{};
        const std::uint8_t* at = nullptr;
        std::uint32_t length = 0;
        if (!reader.U8(tag) || !reader.U32(record.number) || !reader.BytesInPlace(at, length)) {
            return false;
        }
        record.tag = static_cast<RequestTag>(tag);
        if (record.tag == RequestTag::Value) {
            record.value.assign(at, at + length);
        } else {
            record.name.assign(reinterpret_cast<const char*>(at), length);
        }
        records.push_back(std::move(record));
    }
    return true;
}

DirStatus PutRecord(DirBuffer* buffer, RequestTag tag, std::uint32_t number,
                    const std::uint8_t* data, std::size_t length) {
    Bytes record;
    record.reserve(9 + length);
    record.push_back(static_cast<std::uint8_t>(tag));
    AppendU32(record, number);
    AppendU32(record, static_cast<std::uint32_t>(length));
    record.insert(record.end(), data, data + length);
    return buffer->AppendRecord(record) ? DIR_OK : DIR_ERR_BUFFER_FULL;
}

DirStatus PutName(DirBuffer* buffer, RequestTag tag, std::uint32_t number, const char* name) {
    return PutRecord(buffer, tag, number, reinterpret_cast<const std::uint8_t*>(name),
                     std::strlen(name));
}

// Checks a request buffer before something is put into it.
DirStatus RequestReady(DirContextHandle context, DirBuffer* buffer,
                       std::initializer_list<std::uint32_t> kinds) {
    if (FindContext(context) == nullptr) {
        return DIR_ERR_BAD_CONTEXT;
    }
    if (!IsLiveBuffer(buffer) || buffer->use != BufferUse::Request) {
        return DIR_ERR_BAD_BUFFER;
    }
    for (std::uint32_t kind : kinds) {
        if (buffer->requestKind == kind) {
            return DIR_OK;
        }
    }
    return DIR_ERR_BAD_BUFFER;
}

// The attribute or class names of a request, for the reads that name what they want.
DirStatus RequestedNames(const DirBuffer* request, std::uint32_t kind, RequestTag tag,
                         std::vector<std::string>& names) {
    if (!IsLiveBuffer(request) || request->use != BufferUse::Request ||
        request->requestKind != kind) {
        return DIR_ERR_BAD_BUFFER;
    }
    std::vector<RequestRecord> records;
    if (!ParseRequest(*request, records)) {
        return DIR_ERR_BAD_BUFFER;
    }
    for (const RequestRecord& record : records) {
        if (record.tag == tag) {
            names.push_back(record.name);
        }
    }
    return DIR_OK;
}

DirStatus HandOut(Context& context, IteratedCall call, ResultKind kind, std::vector<Bytes> chunks,
                  std::int32_t* iterationHandle, DirBuffer* result) {
    if (chunks.empty() || !result->HoldResult(kind, chunks.front())) {
        *iterationHandle = DIR_NO_MORE_ITERATIONS;
        return DIR_ERR_BUFFER_FULL;
    }
    if (chunks.size() == 1) {
        *iterationHandle = DIR_NO_MORE_ITERATIONS;
        return DIR_OK;
    }
    // A caller that gave up half-way never comes back for the rest; keep only the newest few.
    if (context.iterations.size() >= kKeptIterations) {
        context.iterations.erase(context.iterations.begin());
    }
    std::int32_t handle = context.nextIteration;
    context.nextIteration = handle == INT32_MAX ? 1 : handle + 1;
    Iteration& iteration = context.iterations[handle];
    iteration.call = call;
    iteration.kind = kind;
    iteration.chunks.assign(std::make_move_iterator(chunks.begin() + 1),
                            std::make_move_iterator(chunks.end()));
    *iterationHandle = handle;
    return DIR_OK;
}

DirStatus ContinueIteration(Context& context, IteratedCall call, std::int32_t* iterationHandle,
                            DirBuffer* result) {
    auto found = context.iterations.find(*iterationHandle);
    if (found == context.iterations.end() || found->second.call != call) {
        return DIR_ERR_BAD_ITERATION;
    }
    Iteration& iteration = found->second;
    bool delivered = result->HoldResult(iteration.kind, iteration.chunks.front());
    iteration.chunks.pop_front();
    if (!delivered || iteration.chunks.empty()) {
        context.iterations.erase(found);
        *iterationHandle = DIR_NO_MORE_ITERATIONS;
    }
    return delivered ? DIR_OK : DIR_ERR_BUFFER_FULL;
}

// Common checks of the iterated calls; `fresh` tells whether this call starts a new result.
DirStatus IteratedCallReady(DirContextHandle context, const std::int32_t* iterationHandle,
                            const DirBuffer* result, Context*& found) {
    found = FindContext(context);
    if (found == nullptr) {
        return DIR_ERR_BAD_CONTEXT;
    }
    if (iterationHandle == nullptr) {
        return DIR_ERR_BAD_ITERATION;
    }
    if (!IsLiveBuffer(result)) {
        return DIR_ERR_BAD_BUFFER;
    }
    return DIR_OK;
}

// The frame of every call whose result may take several buffers: the context, handle and buffer
// checked, then either the next buffer of a running iteration, or `build` makes the whole result
// from the store, handed out a buffer at a time.
template <typename Build>
DirStatus RunIteratedCall(DirContextHandle context, IteratedCall call, ResultKind kind,
                          std::int32_t* iterationHandle, DirBuffer* result, Build&& build) {
    Context* found = nullptr;
    DirStatus ready = IteratedCallReady(context, iterationHandle, result, found);
    if (ready != DIR_OK) {
        return ready;
    }
    if (*iterationHandle != DIR_NO_MORE_ITERATIONS) {
        return ContinueIteration(*found, call, iterationHandle, result);
    }
    std::vector<Bytes> chunks;
    DirStatus built = build(*found, chunks);
    if (built != DIR_OK) {
        return built;
    }
    return HandOut(*found, call, kind, std::move(chunks), iterationHandle, result);
}

// What a read that takes "all, or these names" needs first: the names asked for (none when it
// asks for all) and the store to read them from.
DirStatus NamedReadReady(bool all, const DirBuffer* request, std::uint32_t kind, RequestTag tag,
                         std::vector<std::string>& wanted, store::Store*& directory) {
    if (!all) {
        DirStatus named = RequestedNames(request, kind, tag, wanted);
        if (named != DIR_OK) {
            return named;
        }
    }
    directory = CurrentStore();
    return directory == nullptr ? DIR_ERR_STORE : DIR_OK;
}

// The definitions a read asks for: every one the store holds, or the named ones in the order
// asked, where a name the store has no definition for is `unknown`.
template <typename Definition>
DirStatus ChooseDefinitions(bool all, const DirBuffer* request, std::uint32_t kind, RequestTag tag,
                            const std::vector<Definition>& (store::Store::*every)() const,
                            const Definition* (store::Store::*lookup)(std::string_view) const,
                            DirStatus unknown, std::vector<const Definition*>& chosen) {
    std::vector<std::string> wanted;
    store::Store* directory = nullptr;
    DirStatus ready = NamedReadReady(all, request, kind, tag, wanted, directory);
    if (ready != DIR_OK) {
        return ready;
    }
    if (all) {
        for (const Definition& definition : (directory->*every)()) {
            chosen.push_back(&definition);
        }
        return DIR_OK;
    }
    for (const std::string& name : wanted) {
        const Definition* definition = (directory->*lookup)(name);
        if (definition == nullptr) {
            return unknown;
        }
        chosen.push_back(definition);
    }
    return DIR_OK;
}

// ---- reading a result ----------------------------------------------------------------------

DirStatus ResultReady(DirContextHandle context, const DirBuffer* result, ResultKind kind) {
    if (FindContext(context) == nullptr) {
        return DIR_ERR_BAD_CONTEXT;
    }
    if (!IsLiveBuffer(result) || result->use != BufferUse::Result || result->resultKind != kind) {
        return DIR_ERR_BAD_BUFFER;
    }
    return DIR_OK;
}

DirStatus ReadCount(DirBuffer* result, std::uint32_t* count) {
    result->cursor = 0;
    ByteReader reader = result->ResultReader();
    std::uint32_t records = 0;
    if (!reader.U32(records)) {
        return DIR_ERR_BUFFER_EMPTY;
    }
    result->cursor = reader.Position();
    result->recordsLeft = records;
    result->valuesLeft = 0;
    result->listsLeft = 0;
    result->countRead = true;
    if (count != nullptr) {
        *count = records;
    }
    return DIR_OK;
}

// The caller may skip the count; it is read on the way to the first record.
DirStatus NextRecord(DirBuffer* result) {
    if (!result->countRead) {
        DirStatus status = ReadCount(result, nullptr);
        if (status != DIR_OK) {
            return status;
        }
    }
    if (result->recordsLeft == 0) {
        return DIR_ERR_BUFFER_EMPTY;
    }
    --result->recordsLeft;
    return DIR_OK;
}

// Steps over values (or class items) that the caller did not fetch.
bool SkipValues(DirBuffer* result) {
    ByteReader reader = result->ResultReader();
    for (; result->valuesLeft > 0; --result->valuesLeft) {
        const std::uint8_t* at = nullptr;
        std::uint32_t length = 0;
        if (!reader.BytesInPlace(at, length)) {
            return false;
        }
    }
    result->cursor += reader.Position();
    return true;
}

bool SkipClassLists(DirBuffer* result) {
    if (!SkipValues(result)) {
        return false;
    }
    for (; result->listsLeft > 0; --result->listsLeft) {
        ByteReader reader = result->ResultReader();
        if (!reader.U32(result->valuesLeft)) {
            return false;
        }
        result->cursor += reader.Position();
        if (!SkipValues(result)) {
            return false;
        }
    }
    return true;
}

void WriteText(std::string_view text, char* out) {
    if (out != nullptr) {
        CopyName(text, out);
    }
}

}  // namespace

// ---- context and names ---------------------------------------------------------------------

std::int32_t DirIsLoggedIn() {
    try {
        const ClientConfig& config = LoadedConfig();
        if (!config.problems.empty()) {
            return 0;
        }
        if (config.kind != StoreKind::Ldap && config.loginUser.empty()) {
            return 0;
        }
        store::Store* directory = CurrentStore();
        if (directory == nullptr) {
            return 0;
        }
        const auto* server = dynamic_cast<const tally::ldap::LdapStore*>(directory);
        const std::string bound = server != nullptr ? server->BoundName() : std::string();
        if (bound.empty()) {
            return config.loginUser.empty() ? 0 : 1;  // [Login] User is all there is to go by
        }
        std::string_view named = config.loginUser;
        if (!named.empty() && named.front() == '.') {
            named.remove_prefix(1);
        }
        if (!named.empty() && !store::EqualsIgnoreCase(named, bound)) {
            NoteProblem(config.iniFile.string() + ": [Login] User=" + config.loginUser +
                        " names someone else than the login to the directory server, " +
                        server->BoundDn() + " (" + bound + "); leave User out or name " + bound);
            return 0;
        }
        return 1;
    } catch (const std::exception& error) {
        NoteProblem(std::string("the directory client failed: ") + error.what());
        return 0;
    }
}

DirContextHandle DirCreateContext() {
    try {
        ClientState& state = TheClientState();
        Context context;
        context.nameContext = InitialNameContext();
        DirContextHandle handle = state.nextContext;
        state.nextContext = handle == INT32_MAX ? 1 : handle + 1;
        state.contexts[handle] = std::move(context);
        return handle;
    } catch (const std::exception& error) {
        NoteProblem(std::string("no directory context could be made: ") + error.what());
        return -1;
    }
}

DirStatus DirFreeContext(DirContextHandle context) {
    return TheClientState().contexts.erase(context) == 1 ? DIR_OK : DIR_ERR_BAD_CONTEXT;
}

DirStatus DirGetContextValue(DirContextHandle context, std::int32_t key, void* value) {
    Context* found = FindContext(context);
    if (found == nullptr) {
        return DIR_ERR_BAD_CONTEXT;
    }
    if (value == nullptr) {
        return DIR_ERR_BAD_BUFFER;
    }
    switch (key) {
        case DIR_CTX_FLAGS:
            std::memcpy(value, &found->flags, sizeof found->flags);
            return DIR_OK;
        case DIR_CTX_NAME_CONTEXT:
            CopyName(found->nameContext, static_cast<char*>(value));
            return DIR_OK;
        default:
            return DIR_ERR_BAD_KEY;
    }
}

DirStatus DirSetContextValue(DirContextHandle context, std::int32_t key, const void* value) {
    return Guarded([&]() -> DirStatus {
        Context* found = FindContext(context);
        if (found == nullptr) {
            return DIR_ERR_BAD_CONTEXT;
        }
        if (value == nullptr) {
            return DIR_ERR_BAD_BUFFER;
        }
        if (key == DIR_CTX_FLAGS) {
            std::memcpy(&found->flags, value, sizeof found->flags);
            return DIR_OK;
        }
        if (key != DIR_CTX_NAME_CONTEXT) {
            return DIR_ERR_BAD_KEY;
        }
        // A name context is always given whole, from the top of the tree.
        std::string_view name(static_cast<const char*>(value));
        if (IsRootName(name)) {
            found->nameContext = DIR_ROOT_NAME;
            return DIR_OK;
        }
        std::optional<std::string> written = AsWrittenName(name);
        if (!written || written->size() >= DIR_MAX_NAME_BYTES) {
            return DIR_ERR_ILLEGAL_NAME;
        }
        store::Store* directory = CurrentStore();
        if (directory == nullptr) {
            return DIR_ERR_STORE;
        }
        const store::Entry* entry = directory->Find(*written);
        if (entry == nullptr || !IsContainer(*entry)) {
            return DIR_ERR_ILLEGAL_NAME;
        }
        found->nameContext = entry->name;
        return DIR_OK;
    });
}

DirStatus DirGetLoginName(DirContextHandle context, char* name) {
    return Guarded([&]() -> DirStatus {
        if (FindContext(context) == nullptr) {
            return DIR_ERR_BAD_CONTEXT;
        }
        if (name == nullptr) {
            return DIR_ERR_BAD_BUFFER;
        }
        if (DirIsLoggedIn() == 0) {
            return DIR_ERR_NOT_LOGGED_IN;
        }
        // The complete name, so that it still means the same object after the context moved.
        // Over a directory server that is the login the server knows, not what the ini says.
        std::string login = LoadedConfig().loginUser;
        if (const auto* server = dynamic_cast<const tally::ldap::LdapStore*>(CurrentStore());
            server != nullptr && !server->BoundName().empty()) {
            login = server->BoundName();
        } else if (store::Store* directory = CurrentStore()) {
            std::optional<std::string> written = AsWrittenName(login);
            if (const store::Entry* entry = written ? directory->Find(*written) : nullptr) {
                login = entry->name;
            }
        }
        CopyName(login, name);
        return DIR_OK;
    });
}

DirStatus DirGetFullName(DirContextHandle context, const char* name, char* fullName) {
    return Guarded([&]() -> DirStatus {
        Context* found = FindContext(context);
        if (found == nullptr) {
            return DIR_ERR_BAD_CONTEXT;
        }
        if (name == nullptr || fullName == nullptr) {
            return DIR_ERR_BAD_BUFFER;
        }
        std::string given(name);  // the caller may pass one buffer for both
        store::Store* directory = CurrentStore();
        if (directory == nullptr) {
            return DIR_ERR_STORE;
        }
        std::optional<std::string> complete = ResolveName(*directory, given, *found);
        if (!complete || complete->size() >= DIR_MAX_NAME_BYTES) {
            return DIR_ERR_ILLEGAL_NAME;
        }
        CopyName(*complete, fullName);
        return DIR_OK;
    });
}

// ---- requests ------------------------------------------------------------------------------

DirStatus DirAllocBuffer(std::size_t size, DirBuffer** buffer) {
    if (buffer == nullptr) {
        return DIR_ERR_BAD_BUFFER;
    }
    *buffer = nullptr;
    if (size == 0 || size > kLargestBuffer) {
        return DIR_ERR_BAD_BUFFER;
    }
    try {
        auto made = std::make_unique<DirBuffer>(size);
        TheClientState().buffers.insert(made.get());
        *buffer = made.release();
        return DIR_OK;
    } catch (const std::bad_alloc&) {
        return DIR_ERR_NO_MEMORY;
    }
}

DirStatus DirFreeBuffer(DirBuffer* buffer) {
    if (TheClientState().buffers.erase(buffer) == 0) {
        return DIR_ERR_BAD_BUFFER;
    }
    delete buffer;
    return DIR_OK;
}

DirStatus DirInitBuffer(DirContextHandle context, std::uint32_t kind, DirBuffer* buffer) {
    if (FindContext(context) == nullptr) {
        return DIR_ERR_BAD_CONTEXT;
    }
    if (!IsLiveBuffer(buffer)) {
        return DIR_ERR_BAD_BUFFER;
    }
    switch (kind) {
        case DIR_REQ_READ:
        case DIR_REQ_COMPARE:
        case DIR_REQ_MODIFY:
        case DIR_REQ_READ_ATTR_DEF:
        case DIR_REQ_READ_CLASS_DEF:
            break;
        default:
            return DIR_ERR_BAD_BUFFER;
    }
    buffer->use = BufferUse::Request;
    buffer->requestKind = kind;
    buffer->resultKind = ResultKind::None;
    buffer->used = 0;
    buffer->cursor = 0;
    buffer->valueMayFollow = false;
    return DIR_OK;
}

DirStatus DirPutAttrName(DirContextHandle context, DirBuffer* buffer, const char* attrName) {
    return Guarded([&]() -> DirStatus {
        DirStatus ready =
            RequestReady(context, buffer, {DIR_REQ_READ, DIR_REQ_COMPARE, DIR_REQ_READ_ATTR_DEF});
        if (ready != DIR_OK) {
            return ready;
        }
        if (attrName == nullptr || *attrName == '\0') {
            return DIR_ERR_NO_SUCH_ATTRIBUTE;
        }
        DirStatus put = PutName(buffer, RequestTag::AttrName, 0, attrName);
        buffer->valueMayFollow = put == DIR_OK && buffer->requestKind == DIR_REQ_COMPARE;
        return put;
    });
}

DirStatus DirPutChange(DirContextHandle context, DirBuffer* buffer, std::uint32_t changeType,
                       const char* attrName) {
    return Guarded([&]() -> DirStatus {
        DirStatus ready = RequestReady(context, buffer, {DIR_REQ_MODIFY});
        if (ready != DIR_OK) {
            return ready;
        }
        if (changeType != DIR_CHANGE_ADD_VALUE && changeType != DIR_CHANGE_OVERWRITE_VALUE &&
            changeType != DIR_CHANGE_CLEAR_ATTRIBUTE) {
            return DIR_ERR_BAD_SYNTAX;
        }
        if (attrName == nullptr || *attrName == '\0') {
            return DIR_ERR_NO_SUCH_ATTRIBUTE;
        }
        DirStatus put = PutName(buffer, RequestTag::Change, changeType, attrName);
        buffer->valueMayFollow = put == DIR_OK;
        return put;
    });
}

DirStatus DirPutAttrValue(DirContextHandle context, DirBuffer* buffer, std::uint32_t syntax,
                          const void* value) {
    return Guarded([&]() -> DirStatus {
        DirStatus ready = RequestReady(context, buffer, {DIR_REQ_COMPARE, DIR_REQ_MODIFY});
        if (ready != DIR_OK) {
            return ready;
        }
        if (!buffer->valueMayFollow) {
            return DIR_ERR_BAD_BUFFER;
        }
        std::optional<Bytes> bytes = EncodeCallerValue(syntax, value);
        if (!bytes) {
            return DIR_ERR_BAD_SYNTAX;
        }
        DirStatus put = PutRecord(buffer, RequestTag::Value, syntax, bytes->data(), bytes->size());
        if (put == DIR_OK) {
            buffer->valueMayFollow = false;
        }
        return put;
    });
}

DirStatus DirPutClassName(DirContextHandle context, DirBuffer* buffer, const char* className) {
    return Guarded([&]() -> DirStatus {
        DirStatus ready = RequestReady(context, buffer, {DIR_REQ_READ_CLASS_DEF});
        if (ready != DIR_OK) {
            return ready;
        }
        if (className == nullptr || *className == '\0') {
            return DIR_ERR_NO_SUCH_CLASS;
        }
        return PutName(buffer, RequestTag::ClassName, 0, className);
    });
}

// ---- operations ----------------------------------------------------------------------------

DirStatus DirRead(DirContextHandle context, const char* objectName, std::uint32_t infoType,
                  std::uint8_t allAttrs, DirBuffer* request, std::int32_t* iterationHandle,
                  DirBuffer* result) {
    return Guarded([&]() -> DirStatus {
        return RunIteratedCall(
            context, IteratedCall::Read, ResultKind::Read, iterationHandle, result,
            [&](Context& found, std::vector<Bytes>& chunks) -> DirStatus {
                std::vector<std::string> wanted;
                store::Store* directory = nullptr;
                DirStatus ready = NamedReadReady(allAttrs != 0, request, DIR_REQ_READ,
                                                 RequestTag::AttrName, wanted, directory);
                if (ready != DIR_OK) {
                    return ready;
                }
                // Only the class asked for (what kind of object is this?): what the session
                // knows of the entry is enough.
                const bool classOnly =
                    allAttrs == 0 && !wanted.empty() &&
                    std::all_of(wanted.begin(), wanted.end(), [](const std::string& attribute) {
                        return SameName(attribute, store::kObjectClassAttribute);
                    });
                const store::Entry* entry = FindObject(*directory, objectName, found, !classOnly);
                if (entry == nullptr) {
                    return NotFound(*directory);
                }
                std::vector<ReadAttribute> attributes;
                auto take = [&](const std::string& name, const std::vector<std::string>& values) {
                    ReadAttribute attribute;
                    attribute.name = name;
                    attribute.syntax = SyntaxOf(*directory, name, SYN_CI_STRING);
                    for (const std::string& text : values) {
                        std::optional<Bytes> value = ResultValueOf(attribute.syntax, text);
                        if (!value) {
                            NoteProblem(entry->name + ": attribute '" + name + "' holds '" + text +
                                        "', which is no value of syntax " +
                                        std::to_string(attribute.syntax));
                            return false;
                        }
                        attribute.values.push_back(std::move(*value));
                    }
                    attributes.push_back(std::move(attribute));
                    return true;
                };
                if (allAttrs != 0) {
                    for (const auto& [name, values] : entry->attributes) {
                        if (!take(name, values)) {
                            return DIR_ERR_BAD_SYNTAX;
                        }
                    }
                } else {
                    for (const std::string& name : wanted) {
                        auto held = entry->attributes.find(name);
                        if (held != entry->attributes.end() && !held->second.empty() &&
                            !take(held->first, held->second)) {
                            return DIR_ERR_BAD_SYNTAX;
                        }
                    }
                }
                if (attributes.empty()) {
                    return DIR_ERR_NO_SUCH_ATTRIBUTE;
                }
                return PackRead(attributes, infoType != 0, result->Capacity(), chunks)
                           ? DIR_OK
                           : DIR_ERR_BUFFER_FULL;
            });
    });
}

DirStatus DirReadAttrDefs(DirContextHandle context, std::uint32_t /*infoType*/,
                          std::uint8_t allAttrs, DirBuffer* request, std::int32_t* iterationHandle,
                          DirBuffer* result) {
    return Guarded([&]() -> DirStatus {
        return RunIteratedCall(
            context, IteratedCall::ReadAttrDefs, ResultKind::AttrDefs, iterationHandle, result,
            [&](Context&, std::vector<Bytes>& chunks) -> DirStatus {
                std::vector<const store::AttributeDef*> chosen;
                DirStatus status =
                    ChooseDefinitions(allAttrs != 0, request, DIR_REQ_READ_ATTR_DEF,
                                      RequestTag::AttrName, &store::Store::Attributes,
                                      &store::Store::Attribute, DIR_ERR_NO_SUCH_ATTRIBUTE, chosen);
                if (status != DIR_OK) {
                    return status;
                }
                std::vector<AttrDefinition> definitions;
                for (const store::AttributeDef* definition : chosen) {
                    definitions.push_back(
                        {definition->name, definition->syntax, definition->singleValued});
                }
                return PackAttrDefs(definitions, result->Capacity(), chunks) ? DIR_OK
                                                                             : DIR_ERR_BUFFER_FULL;
            });
    });
}

DirStatus DirReadClassDefs(DirContextHandle context, std::uint32_t /*infoType*/,
                           std::uint8_t allClasses, DirBuffer* request,
                           std::int32_t* iterationHandle, DirBuffer* result) {
    return Guarded([&]() -> DirStatus {
        return RunIteratedCall(
            context, IteratedCall::ReadClassDefs, ResultKind::ClassDefs, iterationHandle, result,
            [&](Context&, std::vector<Bytes>& chunks) -> DirStatus {
                std::vector<const store::ClassDef*> chosen;
                DirStatus status =
                    ChooseDefinitions(allClasses != 0, request, DIR_REQ_READ_CLASS_DEF,
                                      RequestTag::ClassName, &store::Store::Classes,
                                      &store::Store::ObjectClass, DIR_ERR_NO_SUCH_CLASS, chosen);
                if (status != DIR_OK) {
                    return status;
                }
                std::vector<ClassDefinition> definitions;
                for (const store::ClassDef* definition : chosen) {
                    definitions.push_back({definition->name, definition->itemLists});
                }
                return PackClassDefs(definitions, result->Capacity(), chunks) ? DIR_OK
                                                                              : DIR_ERR_BUFFER_FULL;
            });
    });
}

namespace {

// The changes of a modify request buffer as the store takes them, for the object they go to
// (`entryName`, its complete name); an empty list when there is nothing to change.
DirStatus StoreChangesOf(Context& found, store::Store* store, const char* objectName,
                         DirBuffer* changes, std::string& entryName,
                         std::vector<store::Change>& storeChanges) {
    std::vector<RequestRecord> records;
    if (!IsLiveBuffer(changes) || changes->use != BufferUse::Request ||
        changes->requestKind != DIR_REQ_MODIFY || !ParseRequest(*changes, records)) {
        return DIR_ERR_BAD_BUFFER;
    }
    if (store == nullptr) {
        return DIR_ERR_STORE;
    }
    store::Store& directory = *store;
    const store::Entry* entry = FindObject(directory, objectName, found, false);
    if (entry == nullptr) {
        return NotFound(directory);
    }
    entryName = entry->name;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const RequestRecord& change = records[i];
        if (change.tag != RequestTag::Change) {
            return DIR_ERR_BAD_BUFFER;
        }
        const RequestRecord* value = nullptr;
        if (i + 1 < records.size() && records[i + 1].tag == RequestTag::Value) {
            value = &records[++i];
        }
        const store::AttributeDef* definition = directory.Attribute(change.name);
        if (definition == nullptr) {
            return DIR_ERR_NO_SUCH_ATTRIBUTE;
        }
        store::Change made{store::ChangeKind::Clear, definition->name, {}};
        if (change.number == DIR_CHANGE_CLEAR_ATTRIBUTE) {
            storeChanges.push_back(std::move(made));  // a value put for a clear means nothing
            continue;
        }
        if (value == nullptr) {
            return DIR_ERR_BAD_BUFFER;
        }
        std::optional<std::string> text =
            StoreTextOf(definition->syntax, value->number, value->value);
        if (!text) {
            return DIR_ERR_BAD_SYNTAX;
        }
        if (definition->syntax == SYN_DIST_NAME) {
            std::optional<std::string> complete = ResolveName(directory, *text, found);
            if (!complete) {
                return DIR_ERR_ILLEGAL_NAME;
            }
            text = complete;
        }
        made.kind = change.number == DIR_CHANGE_ADD_VALUE ? store::ChangeKind::AddValue
                                                          : store::ChangeKind::Overwrite;
        made.value = std::move(*text);
        storeChanges.push_back(std::move(made));
    }
    return DIR_OK;
}

}  // namespace

DirStatus DirModifyObject(DirContextHandle context, const char* objectName,
                          std::int32_t* iterationHandle, std::uint8_t /*moreIterations*/,
                          DirBuffer* changes) {
    return Guarded([&]() -> DirStatus {
        Context* found = FindContext(context);
        if (found == nullptr) {
            return DIR_ERR_BAD_CONTEXT;
        }
        if (iterationHandle != nullptr) {
            *iterationHandle = DIR_NO_MORE_ITERATIONS;
        }
        TheClientState().produced.clear();
        store::Store* directory = CurrentStore();
        std::string entryName;
        std::vector<store::Change> storeChanges;
        const DirStatus planned =
            StoreChangesOf(*found, directory, objectName, changes, entryName, storeChanges);
        if (planned != DIR_OK || storeChanges.empty()) {
            return planned;
        }
        const DirStatus status =
            ChangeStatus(*directory, directory->Modify(entryName, storeChanges));
        if (status == DIR_OK) {
            TheClientState().produced = directory->Produced();
        }
        return status;
    });
}

int DirClientChangesAhead() {
    const store::Store* directory = TheClientState().store.get();
    return directory != nullptr ? std::max(1, directory->ChangesAhead()) : 1;
}

DirStatus DirClientSendModify(DirContextHandle context, const char* objectName,
                              DirBuffer* changes) {
    return Guarded([&]() -> DirStatus {
        Context* found = FindContext(context);
        if (found == nullptr) {
            return DIR_ERR_BAD_CONTEXT;
        }
        store::Store* directory = CurrentStore();
        std::string entryName;
        std::vector<store::Change> storeChanges;
        const DirStatus planned =
            StoreChangesOf(*found, directory, objectName, changes, entryName, storeChanges);
        if (planned != DIR_OK) {
            return planned;
        }
        return ChangeStatus(*directory, directory->SendModify(entryName, storeChanges));
    });
}

DirStatus DirClientTakeModify() {
    return Guarded([&]() -> DirStatus {
        TheClientState().produced.clear();
        store::Store* directory = TheClientState().store.get();
        if (directory == nullptr) {
            return DIR_ERR_STORE;
        }
        const DirStatus status = ChangeStatus(*directory, directory->TakeModify());
        if (status == DIR_OK) {
            TheClientState().produced = directory->Produced();
        }
        return status;
    });
}

DirStatus DirCompare(DirContextHandle context, const char* objectName, DirBuffer* request,
                     std::uint8_t* matched) {
    return Guarded([&]() -> DirStatus {
        Context* found = FindContext(context);
        if (found == nullptr) {
            return DIR_ERR_BAD_CONTEXT;
        }
        if (matched == nullptr) {
            return DIR_ERR_BAD_BUFFER;
        }
        *matched = 0;
        std::vector<RequestRecord> records;
        if (!IsLiveBuffer(request) || request->use != BufferUse::Request ||
            request->requestKind != DIR_REQ_COMPARE || !ParseRequest(*request, records) ||
            records.size() != 2 || records[0].tag != RequestTag::AttrName ||
            records[1].tag != RequestTag::Value) {
            return DIR_ERR_BAD_BUFFER;
        }
        const std::string& attribute = records[0].name;
        std::uint32_t putSyntax = records[1].number;
        store::Store* directory = CurrentStore();
        if (directory == nullptr) {
            return DIR_ERR_STORE;
        }
        const store::Entry* entry = FindObject(*directory, objectName, *found);
        if (entry == nullptr) {
            return NotFound(*directory);
        }
        std::uint32_t syntax = SyntaxOf(*directory, attribute, putSyntax);
        std::optional<std::string> wanted = StoreTextOf(syntax, putSyntax, records[1].value);
        if (!wanted) {
            return DIR_ERR_BAD_SYNTAX;
        }
        ValueForm form = FormOf(syntax);
        if (syntax == SYN_DIST_NAME) {
            wanted = ResolveName(*directory, *wanted, *found);
            if (!wanted) {
                return DIR_OK;  // no object can have that name, so nobody holds it
            }
        }
        auto held = entry->attributes.find(attribute);
        if (held == entry->attributes.end()) {
            return DIR_OK;
        }
        std::optional<Bytes> wantedValue = ResultValueOf(syntax, *wanted);
        for (const std::string& text : held->second) {
            bool same = false;
            if (form == ValueForm::Text) {
                same = SameName(text, *wanted);
            } else {
                std::optional<Bytes> heldValue = ResultValueOf(syntax, text);
                same = heldValue && wantedValue && *heldValue == *wantedValue;
            }
            if (same) {
                *matched = 1;
                break;
            }
        }
        return DIR_OK;
    });
}

DirStatus DirListByClass(DirContextHandle context, const char* container, const char* className,
                         const char* subordinateName, std::int32_t* iterationHandle,
                         DirBuffer* result) {
    return Guarded([&]() -> DirStatus {
        return RunIteratedCall(
            context, IteratedCall::ListByClass, ResultKind::Listing, iterationHandle, result,
            [&](Context& found, std::vector<Bytes>& chunks) -> DirStatus {
                store::Store* directory = CurrentStore();
                if (directory == nullptr) {
                    return DIR_ERR_STORE;
                }
                std::string parent;
                if (container == nullptr || *container == '\0') {
                    parent = IsRootName(found.nameContext) ? std::string() : found.nameContext;
                } else {
                    const store::Entry* entry = FindObject(*directory, container, found, false);
                    if (entry == nullptr) {
                        return NotFound(*directory);
                    }
                    parent = entry->name;
                }
                std::vector<ListedObject> objects;
                // A class asked for is asked of the store, which a server answers with those
                // entries alone.
                const bool anyClass = className == nullptr || *className == '\0';
                const std::vector<const store::Entry*> children =
                    anyClass ? directory->Children(parent)
                             : directory->ChildrenOfClass(parent, className);
                if (children.empty() && directory->LookupFailure() != store::kOk) {
                    return NotFound(*directory);
                }
                for (const store::Entry* child : children) {
                    if (className != nullptr && *className != '\0' &&
                        !SameName(child->objectClass, className)) {
                        continue;
                    }
                    std::string_view leaf = LeafOf(child->name);
                    if (subordinateName != nullptr && *subordinateName != '\0' &&
                        !MatchesPattern(leaf, subordinateName)) {
                        continue;
                    }
                    ListedObject object{std::string(leaf), child->objectClass, 0};
                    if (IsContainer(*child)) {
                        object.subordinateCount =
                            static_cast<std::uint32_t>(directory->SubordinateCount(child->name));
                    }
                    objects.push_back(std::move(object));
                }
                return PackListing(objects, result->Capacity(), chunks) ? DIR_OK
                                                                        : DIR_ERR_BUFFER_FULL;
            });
    });
}

// ---- reading a result ----------------------------------------------------------------------

DirStatus DirGetObjectCount(DirContextHandle context, DirBuffer* result, std::uint32_t* count) {
    DirStatus ready = ResultReady(context, result, ResultKind::Listing);
    return ready != DIR_OK ? ready : ReadCount(result, count);
}

DirStatus DirGetObjectName(DirContextHandle context, DirBuffer* result, char* objectName,
                           std::uint32_t* attrCount, DirObjectInfo* info) {
    DirStatus ready = ResultReady(context, result, ResultKind::Listing);
    if (ready != DIR_OK || (ready = NextRecord(result)) != DIR_OK) {
        return ready;
    }
    ByteReader reader = result->ResultReader();
    std::string name, baseClass;
    std::uint32_t attributes = 0, flags = 0, subordinates = 0, modified = 0;
    if (!reader.Text(name) || !reader.U32(attributes) || !reader.U32(flags) ||
        !reader.U32(subordinates) || !reader.U32(modified) || !reader.Text(baseClass)) {
        return DIR_ERR_BUFFER_EMPTY;
    }
    result->cursor += reader.Position();
    WriteText(name, objectName);
    if (attrCount != nullptr) {
        *attrCount = attributes;
    }
    if (info != nullptr) {
        info->objectFlags = flags;
        info->subordinateCount = subordinates;
        info->modificationTime = modified;
        CopyName(baseClass, info->baseClass);
    }
    return DIR_OK;
}

DirStatus DirGetAttrCount(DirContextHandle context, DirBuffer* result, std::uint32_t* count) {
    DirStatus ready = ResultReady(context, result, ResultKind::Read);
    if (ready == DIR_ERR_BAD_BUFFER) {
        ready = ResultReady(context, result, ResultKind::AttrDefs);
    }
    return ready != DIR_OK ? ready : ReadCount(result, count);
}

DirStatus DirGetAttrName(DirContextHandle context, DirBuffer* result, char* attrName,
                         std::uint32_t* valueCount, std::uint32_t* syntax) {
    DirStatus ready = ResultReady(context, result, ResultKind::Read);
    if (ready != DIR_OK) {
        return ready;
    }
    if (!SkipValues(result)) {
        return DIR_ERR_BUFFER_EMPTY;
    }
    if ((ready = NextRecord(result)) != DIR_OK) {
        return ready;
    }
    ByteReader reader = result->ResultReader();
    std::string name;
    std::uint32_t attributeSyntax = 0, values = 0;
    if (!reader.Text(name) || !reader.U32(attributeSyntax) || !reader.U32(values)) {
        return DIR_ERR_BUFFER_EMPTY;
    }
    result->cursor += reader.Position();
    result->valuesLeft = values;
    result->currentSyntax = attributeSyntax;
    WriteText(name, attrName);
    if (valueCount != nullptr) {
        *valueCount = values;
    }
    if (syntax != nullptr) {
        *syntax = attributeSyntax;
    }
    return DIR_OK;
}

DirStatus DirGetAttrValue(DirContextHandle context, DirBuffer* result, std::uint32_t syntax,
                          void* value) {
    DirStatus ready = ResultReady(context, result, ResultKind::Read);
    if (ready != DIR_OK) {
        return ready;
    }
    if (value == nullptr) {
        return DIR_ERR_BAD_BUFFER;
    }
    if (result->valuesLeft == 0) {
        return DIR_ERR_BUFFER_EMPTY;
    }
    ValueForm form = FormOf(result->currentSyntax);
    if (FormOf(syntax) != form) {
        return DIR_ERR_BAD_SYNTAX;
    }
    ByteReader reader = result->ResultReader();
    const std::uint8_t* at = nullptr;
    std::uint32_t length = 0;
    if (!reader.BytesInPlace(at, length)) {
        return DIR_ERR_BUFFER_EMPTY;
    }
    std::uint32_t expected = form == ValueForm::Int32 ? 4 : form == ValueForm::Byte ? 1 : length;
    if (length != expected || (form == ValueForm::NetAddress && length < 4)) {
        return DIR_ERR_BAD_SYNTAX;
    }
    result->cursor += reader.Position();
    --result->valuesLeft;
    // The octets stay in the result buffer, which the client owns until it is freed or reused.
    auto* octets = const_cast<std::uint8_t*>(at);
    switch (form) {
        case ValueForm::Int32:
        case ValueForm::Byte:
            std::memcpy(value, at, length);
            break;
        case ValueForm::Octets:
            *static_cast<DirOctetString*>(value) = DirOctetString{length, octets};
            break;
        case ValueForm::NetAddress: {
            std::uint32_t type = 0;
            std::memcpy(&type, at, 4);
            *static_cast<DirNetAddress*>(value) = DirNetAddress{type, length - 4, octets + 4};
            break;
        }
        case ValueForm::Text:
            CopyName(std::string_view(reinterpret_cast<const char*>(at), length),
                     static_cast<char*>(value));
            break;
    }
    return DIR_OK;
}

DirStatus DirGetAttrDef(DirContextHandle context, DirBuffer* result, char* attrName,
                        DirAttrInfo* definition) {
    DirStatus ready = ResultReady(context, result, ResultKind::AttrDefs);
    if (ready != DIR_OK || (ready = NextRecord(result)) != DIR_OK) {
        return ready;
    }
    ByteReader reader = result->ResultReader();
    std::string name;
    DirAttrInfo info{};
    if (!reader.Text(name) || !reader.U32(info.attrFlags) || !reader.U32(info.attrSyntaxID) ||
        !reader.U32(info.attrLower) || !reader.U32(info.attrUpper)) {
        return DIR_ERR_BUFFER_EMPTY;
    }
    result->cursor += reader.Position();
    WriteText(name, attrName);
    if (definition != nullptr) {
        *definition = info;
    }
    return DIR_OK;
}

DirStatus DirGetClassDefCount(DirContextHandle context, DirBuffer* result, std::uint32_t* count) {
    DirStatus ready = ResultReady(context, result, ResultKind::ClassDefs);
    return ready != DIR_OK ? ready : ReadCount(result, count);
}

DirStatus DirGetClassDef(DirContextHandle context, DirBuffer* result, char* className,
                         DirClassInfo* info) {
    DirStatus ready = ResultReady(context, result, ResultKind::ClassDefs);
    if (ready != DIR_OK) {
        return ready;
    }
    if (!SkipClassLists(result)) {
        return DIR_ERR_BUFFER_EMPTY;
    }
    if ((ready = NextRecord(result)) != DIR_OK) {
        return ready;
    }
    ByteReader reader = result->ResultReader();
    std::string name;
    DirClassInfo read{};
    if (!reader.Text(name) || !reader.U32(read.classFlags) || !reader.U32(read.itemListCount)) {
        return DIR_ERR_BUFFER_EMPTY;
    }
    result->cursor += reader.Position();
    result->listsLeft = read.itemListCount;
    result->valuesLeft = 0;
    WriteText(name, className);
    if (info != nullptr) {
        *info = read;
    }
    return DIR_OK;
}

DirStatus DirGetClassItemCount(DirContextHandle context, DirBuffer* result, std::uint32_t* count) {
    DirStatus ready = ResultReady(context, result, ResultKind::ClassDefs);
    if (ready != DIR_OK) {
        return ready;
    }
    if (!SkipValues(result)) {
        return DIR_ERR_BUFFER_EMPTY;
    }
    if (result->listsLeft == 0) {
        return DIR_ERR_BUFFER_EMPTY;
    }
    ByteReader reader = result->ResultReader();
    std::uint32_t items = 0;
    if (!reader.U32(items)) {
        return DIR_ERR_BUFFER_EMPTY;
    }
    result->cursor += reader.Position();
    --result->listsLeft;
    result->valuesLeft = items;
    if (count != nullptr) {
        *count = items;
    }
    return DIR_OK;
}

DirStatus DirGetClassItem(DirContextHandle context, DirBuffer* result, char* itemName) {
    DirStatus ready = ResultReady(context, result, ResultKind::ClassDefs);
    if (ready != DIR_OK) {
        return ready;
    }
    if (result->valuesLeft == 0) {
        return DIR_ERR_BUFFER_EMPTY;
    }
    ByteReader reader = result->ResultReader();
    std::string name;
    if (!reader.Text(name)) {
        return DIR_ERR_BUFFER_EMPTY;
    }
    result->cursor += reader.Position();
    --result->valuesLeft;
    WriteText(name, itemName);
    return DIR_OK;
}

// ---- what this session knows ---------------------------------------------------------------

DirStatus DirClientKnownNumber(DirContextHandle context, const char* objectName,
                               const char* attributeName, std::int32_t* value) {
    return Guarded([&]() -> DirStatus {
        Context* found = FindContext(context);
        if (found == nullptr) {
            return DIR_ERR_BAD_CONTEXT;
        }
        if (objectName == nullptr || attributeName == nullptr || value == nullptr) {
            return DIR_ERR_BAD_BUFFER;
        }
        store::Store* directory = CurrentStore();
        if (directory == nullptr) {
            return DIR_ERR_STORE;
        }
        const store::Entry* entry = FindObject(*directory, objectName, *found, false);
        if (entry == nullptr) {
            return NotFound(*directory);
        }
        const store::AttributeDef* definition = directory->Attribute(attributeName);
        if (definition == nullptr) {
            return DIR_ERR_NO_SUCH_ATTRIBUTE;
        }
        auto held = entry->attributes.find(definition->name);
        if (held == entry->attributes.end() || held->second.empty()) {
            return DIR_ERR_NO_SUCH_ATTRIBUTE;
        }
        const std::string& text = held->second.front();
        std::int32_t number = 0;
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
        if (error != std::errc() || end != text.data() + text.size()) {
            return DIR_ERR_BAD_SYNTAX;
        }
        *value = number;
        return DIR_OK;
    });
}

void DirClientLookUpNames(DirContextHandle context, const std::vector<std::string>& names) {
    Guarded([&]() -> DirStatus {
        Context* found = FindContext(context);
        store::Store* directory = found != nullptr ? CurrentStore() : nullptr;
        const auto* server = dynamic_cast<const tally::ldap::LdapStore*>(directory);
        if (server == nullptr) {
            return DIR_OK;  // the embedded store holds everything in memory
        }
        std::vector<std::string> complete;
        complete.reserve(names.size());
        for (const std::string& name : names) {
            if (std::optional<std::string> one = CompleteName(name, found->nameContext)) {
                complete.push_back(std::move(*one));
            }
        }
        server->LookUpAll(complete);
        return DIR_OK;
    });
}

bool DirClientChangeInDoubt() {
    const auto* server = dynamic_cast<const tally::ldap::LdapStore*>(TheClientState().store.get());
    return server != nullptr && server->ChangeInDoubt();
}
