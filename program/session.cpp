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
                       std::string& currentName) {
    if (commandLine.empty() || commandLine.size() > kStartContextChars) {
        return false;
    }
    if (client.SetNameContext(DIR_ROOT_NAME) != 0) {
        return false;
    }
    const std::string startName(commandLine);
    if (client.SetNameContext(startName) == 0) {
        currentName = startName;
        return true;
    }
    client.SetNameContext(DIR_ROOT_NAME);
    client.SetNameContext(currentName);
    return false;
}
