#include "directory/dirclient_state.h"

#include <algorithm>
#include <cstring>
#include <charconv>

#include "directory/dirclient_setup.h"
#include "ldapstore/ldap_store.h"

namespace tally::directory {

ClientState& TheClientState() {
    static ClientState state;
    return state;
}

void NoteProblem(std::string problem) {
    TheClientState().lastProblem = std::move(problem);
    TheClientState().lastProblemUnreachable = false;
}

const ClientConfig& LoadedConfig() {
    ClientState& state = TheClientState();
    if (!state.configLoaded) {
        state.config = LoadClientConfig(DefaultConfigPath());
        state.configLoaded = true;
        if (!state.config.problems.empty()) {
            NoteProblem(state.config.problems.front());
        }
    }
    return state.config;
}

store::Store* CurrentStore() {
    ClientState& state = TheClientState();
    if (!state.storeTried) {
        state.storeTried = true;
        const ClientConfig& config = LoadedConfig();
        if (config.kind == StoreKind::Folder && config.storeFolder.empty()) {
            NoteProblem(config.iniFile.string() + ": no store folder is configured");
            return nullptr;
        }
        std::string problem;
        bool unreachable = false;
        state.store = OpenConfiguredStore(config, problem, &unreachable);
        if (!state.store) {
            NoteProblem(problem.empty() ? config.storeFolder.string() + ": cannot be opened"
                                        : problem);
            state.lastProblemUnreachable = unreachable;
            return nullptr;
        }
    }
    if (!state.store) {
        return nullptr;
    }
    store::Status refreshed = state.store->Refresh();
    if (refreshed != store::kOk) {
        NoteProblem(LoadedConfig().storeFolder.string() +
                    ": the journal could not be read (status " + std::to_string(refreshed) + ")");
        return nullptr;
    }
    return state.store.get();
}

namespace {

// The typed password may be refused twice: a typing error does not end the program.
constexpr int kPromptedLoginTries = 3;

DirPasswordPrompt& PasswordPrompt() {
    static DirPasswordPrompt prompt = nullptr;
    return prompt;
}

}  // namespace

std::unique_ptr<store::Store> OpenConfiguredStore(const ClientConfig& config, std::string& problem,
                                                  bool* unreachable) {
    if (config.kind != StoreKind::Ldap) {
        store::Problem opened;
        auto folder = store::Store::Open(config.storeFolder, &opened);
        if (!folder && !opened.message.empty()) {
            problem = opened.Describe();
        }
        return folder;
    }
    const LdapConfig& ldap = config.ldap;
    ldap::LdapSettings settings;
    settings.endpoint.url = ldap.url;
    settings.endpoint.startTls = ldap.startTls;
    settings.endpoint.caFile = ldap.caCertFile.string();
    settings.endpoint.timeoutSeconds = ldap.timeoutSeconds;
    settings.base = ldap.base;
    settings.bindDn = ldap.bindDn;
    settings.increment = ldap.increment;
    settings.pageSize = ldap.pageSize;
    settings.retrySeconds = ldap.retrySeconds;
    settings.changesAhead = ldap.changesInFlight;
    const std::string iniFile = config.iniFile.string();
    for (auto [configured, used] :
         {std::pair{&ldap.userClasses, &settings.classes.users},
          std::pair{&ldap.groupClasses, &settings.classes.groups},
          std::pair{&ldap.containerClasses, &settings.classes.containers}}) {
        if (!configured->empty()) {
            *used = *configured;
        }
    }
    if (!ldap.passwordFile.empty()) {
        // Read again for each bind, and checked again: nothing of it stays in memory between.
        settings.password = [iniFile, file = ldap.passwordFile](ldap::SecretBuffer& password,
                                                                const std::string&,
                                                                std::string& why) {
            if (ReadOwnerOnlyFile(file, password, why)) {
                return true;
            }
            why = iniFile + ": [Store] PasswordFile " + why;
            return false;
        };
    } else if (!ldap.bindDn.empty()) {
        settings.loginTries = kPromptedLoginTries;
        settings.password = [iniFile, url = ldap.url, bindDn = ldap.bindDn](
                                ldap::SecretBuffer& password, const std::string& refusal,
                                std::string& why) {
            DirPasswordPrompt prompt = PasswordPrompt();
            if (prompt == nullptr || !prompt(url.c_str(), bindDn.c_str(), refusal.c_str(),
                                             password.Data(), password.Capacity())) {
                why = iniFile + ": [Store] BindDN " + bindDn +
                      " has no PasswordFile and no password was given" +
                      (refusal.empty() ? "" : " (" + refusal + ")");
                return false;
            }
            password.SetSize(std::strlen(password.Data()));
            return true;
        };
    }
    store::Problem opened;
    auto server = ldap::LdapStore::Open(settings, &opened, unreachable);
    if (!server) {
        problem = opened.message;
    }
    return server;
}

}  // namespace tally::directory

using namespace tally::directory;

void DirClientSetPasswordPrompt(DirPasswordPrompt prompt) {
    PasswordPrompt() = prompt;
}

void DirClientReset() {
    ClientState& state = TheClientState();
    for (DirBuffer* buffer : state.buffers) {
        delete buffer;
    }
    state = ClientState();
}

bool DirClientLoadConfig(const char* iniPath) {
    DirClientReset();
    ClientState& state = TheClientState();
    state.config = LoadClientConfig(iniPath == nullptr ? std::filesystem::path() : iniPath);
    state.configLoaded = true;
    if (!state.config.problems.empty()) {
        NoteProblem(state.config.problems.front());
        return false;
    }
    return true;
}

void DirClientUseStore(ClientConfig config, std::unique_ptr<tally::store::Store> store) {
    DirClientReset();
    ClientState& state = TheClientState();
    state.config = std::move(config);
    state.configLoaded = true;
    state.store = std::move(store);
    state.storeTried = true;
}

DirStatus DirClientSaveChanges() {
    ClientState& state = TheClientState();
    if (!state.store) {
        return DIR_OK;  // nothing was opened, so nothing was changed
    }
    const tally::store::Status status = state.store->Sync();
    if (status != tally::store::kOk) {
        NoteProblem(LoadedConfig().storeFolder.string() +
                    ": the changes could not be saved to the disk (status " +
                    std::to_string(status) + ")");
    }
    return static_cast<DirStatus>(status);
}

const char* DirClientLastProblem() {
    return TheClientState().lastProblem.c_str();
}

bool DirClientServerUnreachable() {
    return TheClientState().lastProblemUnreachable;
}

bool DirClientProducedNumber(const char* attributeName, std::int32_t* value) {
    ClientState& state = TheClientState();
    if (attributeName == nullptr || value == nullptr || !state.store) {
        return false;
    }
    const tally::store::AttributeDef* definition = state.store->Attribute(attributeName);
    if (definition == nullptr) {
        return false;
    }
    auto produced = state.produced.find(definition->name);
    if (produced == state.produced.end() || produced->second.size() != 1) {
        return false;
    }
    const std::string& text = produced->second.front();
    std::int32_t number = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size()) {
        return false;
    }
    *value = number;
    return true;
}

const ClientConfig& DirClientConfig() {
    return LoadedConfig();
}
