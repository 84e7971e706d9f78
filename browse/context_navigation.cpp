#include "browse/context_navigation.h"

#include <array>

#include "browse/object_list.h"
#include "directory/buffer_owner.h"
#include "program/session.h"

bool ContextChanged = false;

std::string ParentContextOf(const std::string& current) {
    const std::size_t point = current.find('.');
    if (point == std::string::npos) {
        return DIR_ROOT_NAME;
    }
    return current.substr(point + 1);
}

std::string ContextNamedByEntry(const std::string& entry, const std::string& current) {
    if (entry == kParentEntry) {
        return ParentContextOf(current);
    }
    if (current == DIR_ROOT_NAME) {
        return entry;
    }
    return entry + "." + current;
}

DirStatus MoveToContextOfEntry(const std::string& entry) {
    const std::string wanted = ContextNamedByEntry(entry, CurrentContextName);
    const DirStatus status =
        DirSetContextValue(DirectoryContext, DIR_CTX_NAME_CONTEXT, wanted.c_str());
    std::array<char, DIR_MAX_NAME_BYTES> name{};
    if (DirGetContextValue(DirectoryContext, DIR_CTX_NAME_CONTEXT, name.data()) == DIR_OK) {
        name.back() = '\0';
        CurrentContextName = name.data();
    }
    ContextChanged = true;
    return status;
}

namespace {

int CompareMember(const char* groupName, const char* userName, DirBuffer* request) {
    DirInitBuffer(DirectoryContext, DIR_REQ_COMPARE, request);
    DirPutAttrName(DirectoryContext, request, "Member");
    DirPutAttrValue(DirectoryContext, request, SYN_DIST_NAME, userName);
    std::uint8_t matched = 0;
    if (DirCompare(DirectoryContext, groupName, request, &matched) != DIR_OK) {
        return 0;
    }
    return matched != 0 ? 1 : 0;
}

}  // namespace

int IsGroupMember(const char* groupName, const char* userName, DirBuffer* compareBuffer) {
    if (compareBuffer != nullptr) {
        return CompareMember(groupName, userName, compareBuffer);
    }
    DirBufferOwner request(DIR_BUFFER_SIZE);
    return request.Ok() ? CompareMember(groupName, userName, request.Get()) : 0;
}
