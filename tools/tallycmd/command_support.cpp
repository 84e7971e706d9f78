#include "tools/tallycmd/command_support.h"

#include <array>

#include "directory/buffer_owner.h"
#include "directory/dirclient_setup.h"
#include "program/session.h"
#include "program/settings.h"
#include "reports/log_records.h"
#include "reports/report_files.h"

namespace tally::tallycmd {
namespace {

constexpr const char* kObjectClassAttribute = "Object Class";

}  // namespace

void Run::Error(std::string_view text) const {
    console.err.Write("tallycmd: " + std::string(text) + "\n");
}

std::optional<std::string> Run::LocalPath(const std::string& path) const {
    std::optional<std::string> local =
        environment.localPath ? environment.localPath(path) : std::optional<std::string>(path);
    if (!local) {
        Error(environment.unmappedReason ? environment.unmappedReason(path)
                                         : path + ": cannot be reached from here");
    }
    return local;
}

ObjectKind KindOfObject(const std::string& name, DirStatus* status) {
    DirBufferOwner request(DIR_BUFFER_SIZE);
    DirBufferOwner result(DIR_BUFFER_SIZE);
    if (!request.Ok() || !result.Ok()) {
        if (status != nullptr) {
            *status = request.Ok() ? result.Status() : request.Status();
        }
        return ObjectKind::Missing;
    }
    std::int32_t iteration = DIR_NO_MORE_ITERATIONS;
    DirInitBuffer(DirectoryContext, DIR_REQ_READ, request.Get());
    DirPutAttrName(DirectoryContext, request.Get(), kObjectClassAttribute);
    ObjectKind kind = ObjectKind::Other;
    DirStatus read = DIR_OK;
    do {
        read = DirRead(DirectoryContext, name.c_str(), DIR_INFO_NAMES_AND_VALUES, 0, request.Get(),
                       &iteration, result.Get());
        if (read != DIR_OK) {
            break;
        }
        std::uint32_t attributes = 0;
        DirGetAttrCount(DirectoryContext, result.Get(), &attributes);
        for (std::uint32_t a = 0; a < attributes; ++a) {
            std::array<char, DIR_MAX_NAME_BYTES> attribute{};
            std::uint32_t values = 0;
            std::uint32_t syntax = 0;
            if (DirGetAttrName(DirectoryContext, result.Get(), attribute.data(), &values,
                               &syntax) != DIR_OK) {
                break;
            }
            for (std::uint32_t v = 0; v < values; ++v) {
                std::array<char, DIR_MAX_NAME_BYTES> value{};
                if (DirGetAttrValue(DirectoryContext, result.Get(), syntax, value.data()) !=
                    DIR_OK) {
                    break;
                }
                if (reports::EqualsIgnoringCase(value.data(), kUserClass)) {
                    kind = ObjectKind::User;
                } else if (reports::EqualsIgnoringCase(value.data(), kGroupClass)) {
                    kind = ObjectKind::Group;
                }
            }
        }
    } while (iteration != DIR_NO_MORE_ITERATIONS);
    if (read != DIR_OK) {
        if (status != nullptr) {
            *status = read;
        }
        return ObjectKind::Missing;
    }
    return kind;
}

const char* KindText(ObjectKind kind) {
    switch (kind) {
        case ObjectKind::Missing:
            return "nothing";
        case ObjectKind::User:
            return "a user";
        case ObjectKind::Group:
            return "a group";
        case ObjectKind::Other:
            return "neither a user nor a group";
    }
    return "";
}

std::string EnterContext(const std::string& context) {
    ClientNameContext client(DirectoryContext);
    DirStatus refusal = DIR_ERR_NO_SUCH_ENTRY;
    if (ApplyStartContext(context, client, CurrentContextName, &refusal)) {
        return {};
    }
    if (refusal == DIR_ERR_UNAVAILABLE) {
        const std::string words = DirClientLastProblem();
        return "the directory server could not be asked (" + std::to_string(refusal) + ")" +
               (words.empty() ? std::string() : ": " + words);
    }
    return "no such container (give its complete name, such as SALES.CORP, or [Root])";
}

bool ReportOutput::Create(std::string_view name, std::string_view extension, std::string& failure) {
    const std::optional<std::string>& out = run_.line.outFile;
    if (out && *out == "-") {
        console_ = &run_.console.out;
        return true;
    }
    if (out) {
        const std::optional<std::string> local = run_.LocalPath(*out);
        if (!local) {
            failure.clear();  // LocalPath said why
            return false;
        }
        report_ = reports::ReportFile::CreateAt(*local);
        if (!report_.IsOpen()) {
            failure = "Error creating " + *local;
            return false;
        }
        return true;
    }
    // The window's name and fallback; a CSV file keeps its extension in the temporary folder.
    std::string secondPath;
    if (extension == ".csv") {
        const std::string safe = reports::SafeReportName(name);
        report_ = reports::ReportFile::CreateAt(safe + ".csv");
        if (!report_.IsOpen()) {
#ifdef _WIN32
            secondPath = gSettings.TempDirectory + "\\" + safe + ".csv";
#else
            secondPath = gSettings.TempDirectory + "/" + safe + ".csv";
#endif
            report_ = reports::ReportFile::CreateAt(secondPath);
        }
    } else {
        report_ = reports::ReportFile::Create(name, extension, gSettings.TempDirectory, secondPath);
    }
    if (!report_.IsOpen()) {
        failure = "Error creating " + secondPath;
        return false;
    }
    gSettings.ReportFilePath = report_.Path();
    return true;
}

void ReportOutput::Write(std::string_view bytes) {
    if (console_ != nullptr) {
        console_->Write(bytes);
        return;
    }
    report_.Write(bytes);
}

bool ReportOutput::Finish(std::string& failure) {
    if (console_ != nullptr) {
        console_ = nullptr;
        return true;
    }
    if (!report_.Close()) {
        failure = report_.WriteFailureMessage();
        return false;
    }
    run_.Out(report_.Path() + "\n");
    return true;
}

void ProgressLine::Show(int percent) {
    if (!run_.console.showProgress) {
        return;
    }
    run_.console.err.Write("\rReading " + what_ + ": " + std::to_string(percent) + "%");
    shown_ = true;
}

void ProgressLine::Done() {
    if (shown_) {
        // Blanks rather than an escape sequence, which not every Windows console knows.
        const std::size_t width = std::string("Reading : 100%").size() + what_.size();
        run_.console.err.Write("\r" + std::string(width, ' ') + "\r");
        shown_ = false;
    }
}

}  // namespace tally::tallycmd
