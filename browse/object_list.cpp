#include "browse/object_list.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "directory/buffer_owner.h"
#include "program/session.h"

namespace {

bool Is(const char* className, const char* wanted) {
    return std::strcmp(className, wanted) == 0;
}

// One class's objects of the current context, taken chunk by chunk until the client says no
// more follow. A failing call ends the listing with what was added so far.
void ListClass(ObjectListSink& list, const char* className) {
    DirBufferOwner result(DIR_BUFFER_SIZE);
    if (!result.Ok()) {
        return;
    }
    const bool users = Is(className, kUserClass);
    const bool groups = Is(className, kGroupClass);
    std::int32_t iteration = DIR_NO_MORE_ITERATIONS;
    do {
        if (DirListByClass(DirectoryContext, "", className, nullptr, &iteration, result.Get()) !=
            DIR_OK) {
            return;
        }
        std::uint32_t count = 0;
        DirGetObjectCount(DirectoryContext, result.Get(), &count);
        for (std::uint32_t i = 0; i < count; ++i) {
            std::array<char, DIR_MAX_NAME_BYTES> name{};
            std::uint32_t attributeCount = 0;
            DirObjectInfo info{};
            if (DirGetObjectName(DirectoryContext, result.Get(), name.data(), &attributeCount,
                                 &info) != DIR_OK) {
                break;
            }
            std::string entry = name.data();
            if (users) {
                MaxUserNameLength = std::max<std::int32_t>(MaxUserNameLength,
                                                           static_cast<std::int32_t>(entry.size()));
            }
            if (groups) {
                entry += kGroupMarker;
            }
            list.Add(entry);
        }
    } while (iteration != DIR_NO_MORE_ITERATIONS);
}

}  // namespace

void FillObjectList(ObjectListSink& list, const char* className) {
    const bool users = Is(className, kUserClass);
    const bool units = Is(className, kUnitClass);
    if (users || units) {
        list.Clear();
    }
    if (users) {
        MaxUserNameLength = 0;
    }
    ListClass(list, className);
    if (users) {
        FillObjectList(list, kGroupClass);
        list.Add(kAllUsersEntry);
    } else if (units) {
        FillObjectList(list, kOrganizationClass);
        if (CurrentContextName != DIR_ROOT_NAME) {
            list.Add(kParentEntry);
        }
    }
    if (users || units) {
        list.SelectFirst();
    }
}
