#include <windows.h>

// After <windows.h>, which it needs.
#include <aclapi.h>

#include <fstream>
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

bool ReadOwnerOnlyFile(const std::filesystem::path& file, std::string& firstLine,
                       std::string& problem) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::string name = file.string();
    DWORD error = GetNamedSecurityInfoA(name.c_str(), SE_FILE_OBJECT,
                                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                        &owner, nullptr, &dacl, nullptr, &descriptor);
    std::unique_ptr<void, LocalFree_> held(descriptor);
    if (error != ERROR_SUCCESS) {
        problem = name + ": cannot be read (its permissions could not be read, error " +
                  std::to_string(error) + ")";
        return false;
    }
    if (dacl == nullptr) {
        problem = name +
                  ": everybody may read it (it has no access list); a password file "
                  "must be its owner's alone";
        return false;
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
        problem = name +
                  ": others may read it; a password file must be its owner's alone "
                  "(on Linux under Wine: chmod 600)";
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        problem = name + ": cannot be read";
        return false;
    }
    std::getline(in, firstLine);
    if (!firstLine.empty() && firstLine.back() == '\r') {
        firstLine.pop_back();
    }
    return true;
}

}  // namespace tally::directory
