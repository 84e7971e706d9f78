// What the commands share: the run's environment and output, the directory's objects by kind,
// the current context, and the file or stream a report goes to.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "directory/dirclient.h"
#include "reports/report_files.h"
#include "reports/report_runs.h"
#include "tools/tallycmd/tallycmd.h"

namespace tally::tallycmd {

// One command's run: the command line, the platform's part and where text goes.
struct Run {
    const CommandLine& line;
    RunEnvironment& environment;
    Console& console;

    void Out(std::string_view text) const { console.out.Write(text); }
    // "tallycmd: <text>\n" on standard error.
    void Error(std::string_view text) const;
    // The file `path` names on this machine; nullopt after saying why it cannot be reached.
    std::optional<std::string> LocalPath(const std::string& path) const;
};

enum class ObjectKind { Missing, User, Group, Other };

// What `name` (relative to the current name context) is in the directory; `status` is the
// directory's answer when it is Missing.
ObjectKind KindOfObject(const std::string& name, DirStatus* status = nullptr);

// "user", "group", "container or other object" for messages.
const char* KindText(ObjectKind kind);

// Makes `context` (a complete name) the current context for the rest of the run, as starting
// the window with it would. "" when it did; else why not: no such container, or a directory
// server that could not be asked (with its words), which says nothing about the container.
std::string EnterContext(const std::string& context);

// A report's output: a file of its own (closed on every way out) or standard output.
class ReportOutput final : public reports::ReportSink {
  public:
    explicit ReportOutput(const Run& run) : run_(run) {}
    ReportOutput(const ReportOutput&) = delete;
    ReportOutput& operator=(const ReportOutput&) = delete;

    // --out FILE (mapped), --out - (standard output), else the window's name: "<name>
    // <extension>" in the current folder, else in the temporary folder (a CSV file keeps its
    // extension there). False with the message in `failure` (empty when already told).
    bool Create(std::string_view name, std::string_view extension, std::string& failure) override;
    void Write(std::string_view bytes) override;
    // False with "Error writing <path>: <reason>" when the report could not be written whole.
    // Prints the file's path on standard output when it was a file.
    bool Finish(std::string& failure) override;

  private:
    const Run& run_;
    reports::ReportFile report_;
    TextSink* console_ = nullptr;  // standard output, for --out -
};

// Shows "Reading <what>: N%" on standard error while a terminal watches, and clears it at the
// end.
class ProgressLine {
  public:
    ProgressLine(const Run& run, std::string what) : run_(run), what_(std::move(what)) {}
    ~ProgressLine() { Done(); }
    void Show(int percent);
    void Done();

  private:
    const Run& run_;
    std::string what_;
    bool shown_ = false;
};

}  // namespace tally::tallycmd
