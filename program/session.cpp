#include "program/session.h"

DirContextHandle DirectoryContext = 0;
std::string CurrentContextName;

std::string NotLoggedInMessage(std::string_view problem) {
    std::string text = "Not logged into Directory Services!";
    if (!problem.empty()) {
        text += "\n\n";
        text += problem;
    }
    return text;
}

bool ApplyStartContext(std::string_view commandLine, NameContextSetter& client,
                       std::string& currentName, DirStatus* refusal) {
    if (commandLine.empty() || commandLine.size() > kStartContextChars) {
        return false;
    }
    if (const DirStatus status = client.SetNameContext(DIR_ROOT_NAME); status != 0) {
        if (refusal != nullptr) {
            *refusal = status;
        }
        return false;
    }
    const std::string startName(commandLine);
    const DirStatus status = client.SetNameContext(startName);
    if (status == 0) {
        currentName = startName;
        return true;
    }
    if (refusal != nullptr) {
        *refusal = status;
    }
    client.SetNameContext(DIR_ROOT_NAME);
    client.SetNameContext(currentName);
    return false;
}
