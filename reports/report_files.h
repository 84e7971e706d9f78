// Where the reports write their files, and under which names.
//
// A report is named after what it is about (a user, a group, a category, a context), written in
// the current directory, and when that fails in the temporary directory. Names come from the
// directory and the log, so they are made safe before they reach the file system: every
// character that cannot stand in a Windows file name (\ / : * ? " < > | and the control
// characters) becomes an underscore, and a name that Windows reserves for a device (CON, PRN,
// AUX, NUL, CONIN$, CONOUT$, COM1-COM9, LPT1-LPT9, in any case, also before a point) gets an
// underscore after it.
// Ordinary names stay as they are.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace tally::reports {

std::string SafeReportName(std::string_view name);

// A report file open for writing, closed on every way out.
class ReportFile {
  public:
    ReportFile() = default;
    ReportFile(ReportFile&& other) noexcept;
    ReportFile& operator=(ReportFile&& other) noexcept;
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;
    ~ReportFile();

    bool IsOpen() const { return file_ != nullptr; }
    const std::string& Path() const { return path_; }
    // False once a write failed; later writes are skipped.
    bool Write(std::string_view bytes);
    // Closes the file; false when anything could not be written.
    bool Close();
    bool Failed() const { return failed_; }
    // "Error writing <path>: <the system's reason>", once a write or the close failed.
    std::string WriteFailureMessage() const;

    // Creates or empties the report "<name><extension>" in the current directory, else
    // "<tempDirectory>\<name>.txt". `name` is made safe first. When both fail, the returned file
    // is not open and `secondPath` names the path that was tried last.
    static ReportFile Create(std::string_view name, std::string_view extension,
                             const std::string& tempDirectory, std::string& secondPath);
    // Creates or empties the file at `path`, as given.
    static ReportFile CreateAt(const std::string& path);

  private:
    void Fail();

    std::FILE* file_ = nullptr;
    std::string path_;
    bool failed_ = false;
    std::string reason_;  // the system's words for the first failure
};

}  // namespace tally::reports
