#include "browse/object_list.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "directory/buffer_owner.h"
#include "directory/dirclient_setup.h"
#include "program/session.h"

namespace {

bool Is(const char* className, const char* wanted) {
    return std::strcmp(className, wanted) == 0;
}

// One class's objects of the current context, taken chunk by chunk until the client says no
// more follow. A failing call ends the listing with what was added so far, and says so.
DirStatus ListClass(ObjectListSink& list, const char* className, std::size_t& listed) {
    DirBufferOwner result(DIR_BUFFER_SIZE);
    if (!result.Ok()) {
        return DIR_ERR_NO_MEMORY;
    }
    const bool users = Is(className, kUserClass);
    const bool groups = Is(className, kGroupClass);
    std::int32_t iteration = DIR_NO_MORE_ITERATIONS;
    do {
        const DirStatus status =
            DirListByClass(DirectoryContext, "", className, nullptr, &iteration, result.Get());
        if (status != DIR_OK) {
            return status;
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
            ++listed;
        }
    } while (iteration != DIR_NO_MORE_ITERATIONS);
    return DIR_OK;
}

}  // namespace

DirStatus FillObjectList(ObjectListSink& list, const char* className, std::size_t* listed) {
    const bool users = Is(className, kUserClass);
    const bool units = Is(className, kUnitClass);
    if (users || units) {
        list.Clear();
    }
    if (users) {
        MaxUserNameLength = 0;
    }
    std::size_t count = 0;
    DirStatus status = ListClass(list, className, count);
    if (users || units) {
        std::size_t more = 0;
        const DirStatus next =
            FillObjectList(list, users ? kGroupClass : kOrganizationClass, &more);
        status = status != DIR_OK ? status : next;
        count += more;
    }
    if (listed != nullptr) {
        *listed = count;
    }
    if (users) {
        list.Add(kAllUsersEntry);
    } else if (units) {
        if (CurrentContextName != DIR_ROOT_NAME) {
            list.Add(kParentEntry);
        }
    }
    if (users || units) {
        list.SelectFirst();
    }
    return status;
}

std::string ListingFailureMessage(DirStatus status, std::size_t listed) {
    std::string message = "The list of " + CurrentContextName + " could not be read whole (" +
                          std::to_string(status) + ")";
    const std::string problem = DirClientLastProblem();
    if (!problem.empty()) {
        message += ":\n" + problem;
    }
    // A list of nothing is no part of a list: the operator is told that nothing could be listed,
    // never that an empty list is short of something.
    return message + (listed == 0 ? "\nNothing could be listed."
                                  : "\nThe entries shown are not all there are.");
}
