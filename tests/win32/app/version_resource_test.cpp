// The version resource of both programs, read as Windows reads it for a file's Properties:
// the numbers and texts must be the build's own version.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tally_version.h"

namespace {

// TALLY_BUILD_DIR is a Linux path; the program sees the Linux tree on drive Z:.
std::string BuiltProgram(const std::string& relative) {
    const char* build = std::getenv("TALLY_BUILD_DIR");
    std::string path = std::string("Z:") + (build != nullptr ? build : "") + "/" + relative;
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

std::string StringValue(std::vector<char>& info, const char* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::string key = std::string("\\StringFileInfo\\040904E4\\") + name;
    if (!VerQueryValueA(info.data(), key.c_str(), &value, &length) || length == 0) {
        return "(missing)";
    }
    return static_cast<const char*>(value);
}

struct ProgramCase {
    const char* relativePath;
    const char* fileName;
};

TEST(VersionResource, BothProgramsCarryTheBuildsVersion) {
    const ProgramCase programs[] = {{"tallydesk.exe", "tallydesk.exe"},
                                    {"tools/tallycmd/tallycmd.exe", "tallycmd.exe"}};
    const DWORD high = (TALLY_VERSION_MAJOR << 16) | TALLY_VERSION_MINOR;
    const DWORD low = (TALLY_VERSION_REVISION << 16) | TALLY_VERSION_BUILD;
    for (const ProgramCase& program : programs) {
        SCOPED_TRACE(program.fileName);
        const std::string path = BuiltProgram(program.relativePath);
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
        ASSERT_GT(size, 0u) << path << " has no version resource";
        std::vector<char> info(size);
        ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));

        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
        ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
        EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
        EXPECT_EQ(fixed->dwFileVersionMS, high);
        EXPECT_EQ(fixed->dwFileVersionLS, low);
        EXPECT_EQ(fixed->dwProductVersionMS, high);
        EXPECT_EQ(fixed->dwProductVersionLS, low);
        EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

        EXPECT_EQ(StringValue(info, "ProductName"), "TallyDesk");
        EXPECT_EQ(StringValue(info, "ProductVersion"), TALLY_VERSION_TEXT);
        EXPECT_EQ(StringValue(info, "FileVersion"), TALLY_VERSION_TEXT);
        EXPECT_EQ(StringValue(info, "OriginalFilename"), program.fileName);
    }
}

}  // namespace
