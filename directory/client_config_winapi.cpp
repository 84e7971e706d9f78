#include <windows.h>

// After <windows.h>, which it needs.
#include <aclapi.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "directory/client_config.h"

namespace tally::directory {
namespace {

struct LocalFree_ {
    void operator()(void* memory) const { LocalFree(memory); }
};

// SYSTEM and the Administrators may read every file anyway; an entry for them gives nobody new
// the password.
bool IsSystemOrAdministrators(PSID sid) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID system = nullptr, administrators = nullptr;
    bool matched = false;
    if (AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system)) {
        matched = EqualSid(sid, system) != FALSE;
        FreeSid(system);
    }
    if (!matched &&
        AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                 0, 0, 0, 0, &administrators)) {
        matched = EqualSid(sid, administrators) != FALSE;
        FreeSid(administrators);
    }
    return matched;
}

}  // namespace

std::filesystem::path RunningProgramFolder() {
    // Paths beyond MAX_PATH are possible; grow until the whole name fits.
    std::vector<char> name(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameA(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) {
            return std::filesystem::path(".");
        }
        if (length < name.size()) {
            return std::filesystem::path(std::string(name.data(), length)).parent_path();
        }
        name.resize(name.size() * 2);
    }
}

namespace {

struct HandleClose {
    void operator()(void* handle) const { CloseHandle(handle); }
};

// The Linux metadata Windows keeps for a file (FILE_STAT_LX_INFORMATION, information class 70
// of NtQueryInformationFile): a file system that holds a Unix mode for the file reports it here
// (NTFS for files Linux programs made under WSL, an SMB share of a Unix server that passes the
// modes on). The mingw headers have neither the class nor the structure.
struct FileStatLx {
    LARGE_INTEGER fileId, creationTime, lastAccessTime, lastWriteTime, changeTime;
    LARGE_INTEGER allocationSize, endOfFile;
    ULONG fileAttributes, reparseTag, numberOfLinks;
    ACCESS_MASK effectiveAccess;
    ULONG lxFlags, lxUid, lxGid, lxMode, lxDeviceIdMajor, lxDeviceIdMinor;
};
constexpr int kFileStatLxInformation = 70;
constexpr ULONG kLxHasMode = 0x4;

using QueryInformationFile = LONG(WINAPI*)(HANDLE, void* ioStatus, void* information, ULONG length,
                                           int informationClass);

// "others may read or change it (mode 0640)" when the file system reports a Unix mode that
// gives the group or the world any right; empty when it reports none, or a mode of the owner's
// alone. Under Wine 8 the class is not answered (the access list is then all there is).
std::string OthersByUnixMode(HANDLE file) {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    auto query = ntdll == nullptr ? nullptr
                                  : reinterpret_cast<QueryInformationFile>(reinterpret_cast<void*>(
                                        GetProcAddress(ntdll, "NtQueryInformationFile")));
    if (query == nullptr) {
        return {};
    }
    FileStatLx status{};
    ULONG_PTR ioStatus[2] = {};
    if (query(file, ioStatus, &status, sizeof status, kFileStatLxInformation) < 0 ||
        (status.lxFlags & kLxHasMode) == 0 || (status.lxMode & 077) == 0) {
        return {};
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.lxMode & 07777));
    return std::string("others may read or change it (mode ") + mode + ")";
}

// Anybody but the owner, SYSTEM and the Administrators who may read the file, in words; empty
// when nobody may.
std::string OthersWhoMayRead(HANDLE file) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error = GetSecurityInfo(file, SE_FILE_OBJECT,
                                  OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                  nullptr, &dacl, nullptr, &descriptor);
    std::unique_ptr<void, LocalFree_> held(descriptor);
    if (error != ERROR_SUCCESS) {
        return "its permissions could not be read (error " + std::to_string(error) + ")";
    }
    if (dacl == nullptr) {
        return "everybody may read it (it has no access list)";
    }
    const DWORD reading = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) {
            continue;
        }
        auto* header = static_cast<ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            continue;
        }
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        PSID sid = &allowed->SidStart;
        if ((allowed->Mask & reading) == 0 || (owner != nullptr && EqualSid(sid, owner)) ||
            IsSystemOrAdministrators(sid)) {
            continue;
        }
        return "others may read it";
    }
    return {};
}

}  // namespace

bool ReadOwnerOnlyFile(const std::filesystem::path& file, ldap::SecretBuffer& firstLine,
                       std::string& problem) {
    const std::string name = file.string();
    // A folder is told by its attributes; a pipe (Wine shows a FIFO as one) has none, and is
    // opened for overlapped reading, which does not wait for a writer, only to be told apart.
    const DWORD attributes = GetFileAttributesA(name.c_str());
    const bool folder =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (folder) {
        problem = name + ": is not a regular file (a folder); a password file must be a plain file";
        return false;
    }
    std::unique_ptr<void, HandleClose> opened(CreateFileA(name.c_str(), GENERIC_READ | READ_CONTROL,
                                                          FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                          FILE_FLAG_OVERLAPPED, nullptr));
    if (opened.get() == INVALID_HANDLE_VALUE) {
        opened.release();
        problem = name + ": cannot be read";
        return false;
    }
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        GetFileType(opened.get()) != FILE_TYPE_DISK) {
        problem =
            name + ": is not a regular file (" +
            ((attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
                 ? "a folder"
                 : "a pipe or device") +
            "); a password file must be a plain file";
        return false;
    }
    std::string others = OthersByUnixMode(opened.get());
    if (others.empty()) {
        others = OthersWhoMayRead(opened.get());
    }
    if (!others.empty()) {
        problem = name + ": " + others +
                  "; a password file must be its owner's alone (on Linux under Wine: chmod 600)";
        return false;
    }
    std::size_t read = 0;
    while (read < firstLine.Capacity()) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(read);
        DWORD got = 0;
        if (!ReadFile(opened.get(), firstLine.Data() + read,
                      static_cast<DWORD>(firstLine.Capacity() - read), nullptr, &at) &&
            GetLastError() != ERROR_IO_PENDING) {
            if (GetLastError() == ERROR_HANDLE_EOF) {
                break;
            }
            firstLine.Wipe();
            problem = name + ": cannot be read";
            return false;
        }
        if (!GetOverlappedResult(opened.get(), &at, &got, TRUE)) {
            if (GetLastError() == ERROR_HANDLE_EOF) {
                break;
            }
            firstLine.Wipe();
            problem = name + ": cannot be read";
            return false;
        }
        if (got == 0) {
            break;
        }
        read += got;
    }
    if (!KeepFirstLine(firstLine, read)) {
        problem = name + ": holds no password (its first line is empty)";
        return false;
    }
    return true;
}

}  // namespace tally::directory
