#include "reports/report_files.h"

#include <array>
#include <cerrno>
#include <cstring>

#include "reports/log_records.h"

namespace tally::reports {
namespace {

#ifdef _WIN32
constexpr const char* kSeparator = "\\";
#else
constexpr const char* kSeparator = "/";
#endif
// CONIN$ and CONOUT$ name the console's input and output on every Windows.
constexpr std::array<std::string_view, 6> kDevices = {"CON", "PRN",    "AUX",
                                                      "NUL", "CONIN$", "CONOUT$"};
constexpr std::array<std::string_view, 2> kNumberedDevices = {"COM", "LPT"};

bool IsForbidden(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F || c == '\\' || c == '/' || c == ':' || c == '*' ||
           c == '?' || c == '"' || c == '<' || c == '>' || c == '|';
}

bool IsDeviceName(std::string_view stem) {
    for (std::string_view device : kDevices) {
        if (EqualsIgnoringCase(stem, device)) {
            return true;
        }
    }
    for (std::string_view device : kNumberedDevices) {
        if (stem.size() == 4 && StartsWithIgnoringCase(stem, device) && stem[3] >= '1' &&
            stem[3] <= '9') {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string SafeReportName(std::string_view name) {
    std::string safe;
    safe.reserve(name.size() + 1);
    for (char c : name) {
        safe += IsForbidden(c) ? '_' : c;
    }
    // Windows takes "CON" and "CON.anything" for the device, whatever follows the point; a
    // blank before the point does not save it either.
    std::string_view stem = std::string_view(safe).substr(0, safe.find('.'));
    while (!stem.empty() && stem.back() == ' ') {
        stem.remove_suffix(1);
    }
    if (IsDeviceName(stem)) {
        safe.insert(stem.size(), "_");
    }
    if (safe.empty()) {
        safe = "_";
    }
    return safe;
}

ReportFile::ReportFile(ReportFile&& other) noexcept
    : file_(other.file_),
      path_(std::move(other.path_)),
      failed_(other.failed_),
      reason_(std::move(other.reason_)) {
    other.file_ = nullptr;
}

ReportFile& ReportFile::operator=(ReportFile&& other) noexcept {
    if (this != &other) {
        Close();
        file_ = other.file_;
        path_ = std::move(other.path_);
        failed_ = other.failed_;
        reason_ = std::move(other.reason_);
        other.file_ = nullptr;
    }
    return *this;
}

ReportFile::~ReportFile() {
    Close();
}

bool ReportFile::Write(std::string_view bytes) {
    if (file_ == nullptr || failed_) {
        return false;
    }
    errno = 0;
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
        Fail();
    }
    return !failed_;
}

bool ReportFile::Close() {
    if (file_ == nullptr) {
        return !failed_;
    }
    errno = 0;
    // A full disk often shows only here, when the last buffered bytes go out.
    if (std::fflush(file_) != 0) {
        Fail();
    }
    if (std::fclose(file_) != 0) {
        Fail();
    }
    file_ = nullptr;
    return !failed_;
}

void ReportFile::Fail() {
    if (!failed_) {
        reason_ = errno != 0 ? std::strerror(errno) : "the file could not be written";
    }
    failed_ = true;
}

std::string ReportFile::WriteFailureMessage() const {
    return "Error writing " + path_ + ": " + reason_;
}

ReportFile ReportFile::CreateAt(const std::string& path) {
    ReportFile report;
    report.path_ = path;
    report.file_ = std::fopen(path.c_str(), "wb");
    return report;
}

ReportFile ReportFile::Create(std::string_view name, std::string_view extension,
                              const std::string& tempDirectory, std::string& secondPath) {
    const std::string safe = SafeReportName(name);
    ReportFile report;
    report.path_ = safe + std::string(extension);
    report.file_ = std::fopen(report.path_.c_str(), "wb");
    if (report.file_ == nullptr) {
        secondPath = tempDirectory + kSeparator + safe + ".txt";
        report.path_ = secondPath;
        report.file_ = std::fopen(report.path_.c_str(), "wb");
    }
    return report;
}

}  // namespace tally::reports
