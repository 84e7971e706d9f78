#include "reports/group_members.h"

#include <algorithm>

#include "browse/context_navigation.h"
#include "directory/buffer_owner.h"
#include "program/session.h"
#include "reports/log_records.h"

namespace tally::reports {
namespace {

constexpr const char* kMemberAttribute = "Member";

std::string Folded(std::string_view name) {
    std::string folded(name);
    std::transform(folded.begin(), folded.end(), folded.begin(), FoldCase);
    return folded;
}

// A name the directory reads relative to a context: only such a name needs the directory itself.
bool IsRelativeName(const std::string& name) {
    return !name.empty() && (name.front() == '.' || name.back() == '.');
}

}  // namespace

bool ReadGroupMembers(const std::string& group, std::vector<std::string>& members) {
    members.clear();
    DirBufferOwner request(DIR_BUFFER_SIZE);
    DirBufferOwner result(DIR_BUFFER_SIZE);
    if (!request.Ok() || !result.Ok() ||
        DirInitBuffer(DirectoryContext, DIR_REQ_READ, request.Get()) != DIR_OK ||
        DirPutAttrName(DirectoryContext, request.Get(), kMemberAttribute) != DIR_OK) {
        return false;
    }
    std::int32_t iteration = DIR_NO_MORE_ITERATIONS;
    bool first = true;
    do {
        const DirStatus status = DirRead(DirectoryContext, group.c_str(), DIR_INFO_NAMES_AND_VALUES,
                                         0, request.Get(), &iteration, result.Get());
        if (first && status == DIR_ERR_NO_SUCH_ATTRIBUTE) {
            return true;  // a group without members
        }
        first = false;
        if (status != DIR_OK) {
            return false;
        }
        std::uint32_t attributes = 0;
        char attribute[DIR_MAX_NAME_BYTES] = {};
        std::uint32_t values = 0;
        std::uint32_t syntax = 0;
        if (DirGetAttrCount(DirectoryContext, result.Get(), &attributes) != DIR_OK ||
            attributes == 0 ||
            DirGetAttrName(DirectoryContext, result.Get(), attribute, &values, &syntax) != DIR_OK) {
            return false;
        }
        for (std::uint32_t i = 0; i < values; ++i) {
            char member[DIR_MAX_NAME_BYTES] = {};
            if (DirGetAttrValue(DirectoryContext, result.Get(), syntax, member) != DIR_OK) {
                return false;
            }
            members.emplace_back(member);
        }
    } while (iteration != DIR_NO_MORE_ITERATIONS);
    return true;
}

std::string FullNameOf(const std::string& name) {
    char fullName[DIR_MAX_NAME_BYTES] = {};
    if (DirGetFullName(DirectoryContext, name.c_str(), fullName) != DIR_OK) {
        return {};
    }
    return fullName;
}

bool ReadMemberFullNames(const std::string& group, std::vector<std::string>& fullNames) {
    if (!ReadGroupMembers(group, fullNames)) {
        return false;
    }
    for (std::string& member : fullNames) {
        std::string fullName = FullNameOf(member);
        if (!fullName.empty()) {
            member = std::move(fullName);
        }
    }
    return true;
}

NameContextAtRoot::NameContextAtRoot() {
    DirSetContextValue(DirectoryContext, DIR_CTX_NAME_CONTEXT, DIR_ROOT_NAME);
}

NameContextAtRoot::~NameContextAtRoot() {
    DirSetContextValue(DirectoryContext, DIR_CTX_NAME_CONTEXT, CurrentContextName.c_str());
}

GroupMembership::GroupMembership(std::string groupFullName, DirBuffer* compareBuffer)
    : group_(std::move(groupFullName)), compareBuffer_(compareBuffer) {
    std::vector<std::string> members;
    read_ = ReadGroupMembers(group_, members);
    for (const std::string& member : members) {
        folded_.insert(Folded(member));
    }
}

bool GroupMembership::Contains(const std::string& name) const {
    if (!read_ || IsRelativeName(name)) {
        return IsGroupMember(group_.c_str(), name.c_str(), compareBuffer_) == 1;
    }
    return folded_.count(Folded(name)) > 0;
}

}  // namespace tally::reports
