#include <windows.h>

// After <windows.h>, which it needs.
#include <aclapi.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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

struct HeapFree_ {
    void operator()(char* memory) const { HeapFree(GetProcessHeap(), 0, memory); }
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

// The Unix mode as the file system reports it through class 70; none when it reports none.
std::optional<unsigned> ModeFromFileSystem(HANDLE file) {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    auto query = ntdll == nullptr ? nullptr
                                  : reinterpret_cast<QueryInformationFile>(reinterpret_cast<void*>(
                                        GetProcAddress(ntdll, "NtQueryInformationFile")));
    if (query == nullptr) {
        return std::nullopt;
    }
    FileStatLx status{};
    ULONG_PTR ioStatus[2] = {};
    if (query(file, ioStatus, &status, sizeof status, kFileStatLxInformation) < 0 ||
        (status.lxFlags & kLxHasMode) == 0) {
        return std::nullopt;
    }
    return status.lxMode;
}

// Wine on Linux shows a Windows program a Unix file's owner and world bits only (in its access
// list) and answers no query for the mode, so a file only the group may read would pass. The
// program is a Linux process there all the same: the host's own stat(2), asked of the kernel
// directly for the file's Unix name, tells the whole mode. Only where ntdll says that it is
// Wine on a Linux host, and only in the x86-64 build, whose system call numbers these are; a
// Windows system never comes here.
struct LinuxStat {  // struct stat of x86-64 Linux
    std::uint64_t device, inode, links;
    std::uint32_t mode, uid, gid, padding;
    std::uint64_t specialDevice;
    std::int64_t size, blockSize, blocks;
    std::uint64_t times[6];
    std::int64_t reserved[3];
};
using WineHostVersion = void(CDECL*)(const char** sysname, const char** release);
using WineUnixFileName = char*(CDECL*)(const wchar_t* dosName);

std::optional<unsigned> ModeFromWineHost(const std::string& name) {
#if defined(__x86_64__)
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    if (ntdll == nullptr || kernel32 == nullptr) {
        return std::nullopt;
    }
    auto hostVersion = reinterpret_cast<WineHostVersion>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_host_version")));
    auto unixFileName = reinterpret_cast<WineUnixFileName>(
        reinterpret_cast<void*>(GetProcAddress(kernel32, "wine_get_unix_file_name")));
    const char* system = nullptr;
    const char* release = nullptr;
    if (hostVersion == nullptr || unixFileName == nullptr) {
        return std::nullopt;
    }
    hostVersion(&system, &release);
    if (system == nullptr || std::string_view(system) != "Linux") {
        return std::nullopt;
    }
    std::wstring wide(name.size() + 1, L'\0');
    const int length = MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, wide.data(),
                                           static_cast<int>(wide.size()));
    if (length <= 0) {
        return std::nullopt;
    }
    std::unique_ptr<char, HeapFree_> unixName(unixFileName(wide.c_str()));
    if (!unixName) {
        return std::nullopt;
    }
    constexpr long kLinuxStat = 4;
    LinuxStat status{};
    long result = 0;
    asm volatile("syscall"
                 : "=a"(result)
                 : "a"(kLinuxStat), "D"(unixName.get()), "S"(&status)
                 : "rcx", "r11", "memory");
    if (result != 0) {
        return std::nullopt;
    }
    return status.mode;
#else
    (void)name;
    return std::nullopt;
#endif
}

// "others may read or change it (mode 0640)" when the file's Unix mode, where one can be
// learned, gives the group or the world any right; empty when none can be learned, or for a
// mode of the owner's alone (the access list decides then).
std::string OthersByUnixMode(HANDLE file, const std::string& name) {
    std::optional<unsigned> mode = ModeFromFileSystem(file);
    if (!mode) {
        mode = ModeFromWineHost(name);
    }
    if (!mode || (*mode & 077) == 0) {
        return {};
    }
    char text[8];
    std::snprintf(text, sizeof text, "%04o", *mode & 07777);
    return std::string("others may read or change it (mode ") + text + ")";
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
    std::string others = OthersByUnixMode(opened.get(), name);
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
