#include <array>
#include <cstdint>

#include "program/session.h"

DirStatus ClientNameContext::SetNameContext(const std::string& name) {
    return DirSetContextValue(context_, DIR_CTX_NAME_CONTEXT, name.c_str());
}

void OpenDirectoryContext() {
    DirectoryContext = DirCreateContext();
    std::array<char, DIR_MAX_NAME_BYTES> name{};
    DirGetContextValue(DirectoryContext, DIR_CTX_NAME_CONTEXT, name.data());
    name.back() = '\0';
    CurrentContextName = name.data();
    std::uint32_t flags = 0;
    DirGetContextValue(DirectoryContext, DIR_CTX_FLAGS, &flags);
    flags |= DIR_FLAG_TYPELESS_NAMES;
    DirSetContextValue(DirectoryContext, DIR_CTX_FLAGS, &flags);
}
