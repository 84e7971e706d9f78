#include "directory/dirclient_state.h"

#include "directory/dirclient_setup.h"

namespace tally::directory {

ClientState& clientState() {
    static ClientState state;
    return state;
}

void noteProblem(std::string problem) {
    clientState().lastProblem = std::move(problem);
}

const ClientConfig& loadedConfig() {
    ClientState& state = clientState();
    if (!state.configLoaded) {
        state.config = loadClientConfig(defaultConfigPath());
        state.configLoaded = true;
        if (!state.config.problems.empty()) {
            noteProblem(state.config.problems.front());
        }
    }
    return state.config;
}

store::Store* currentStore() {
    ClientState& state = clientState();
    if (!state.storeTried) {
        state.storeTried = true;
        const ClientConfig& config = loadedConfig();
        if (config.storeFolder.empty()) {
            noteProblem(config.iniFile.string() + ": no store folder is configured");
            return nullptr;
        }
        store::Problem problem;
        state.store = store::Store::Open(config.storeFolder, &problem);
        if (!state.store) {
            noteProblem(problem.message.empty() ? config.storeFolder.string() + ": cannot be opened"
                                                : problem.Describe());
            return nullptr;
        }
    }
    if (!state.store) {
        return nullptr;
    }
    store::Status refreshed = state.store->Refresh();
    if (refreshed != store::kOk) {
        noteProblem(loadedConfig().storeFolder.string() +
                    ": the journal could not be read (status " + std::to_string(refreshed) + ")");
        return nullptr;
    }
    return state.store.get();
}

}  // namespace tally::directory

using namespace tally::directory;

void DirClientReset() {
    ClientState& state = clientState();
    for (DirBuffer* buffer : state.buffers) {
        delete buffer;
    }
    state = ClientState();
}

bool DirClientLoadConfig(const char* iniPath) {
    DirClientReset();
    ClientState& state = clientState();
    state.config = loadClientConfig(iniPath == nullptr ? std::filesystem::path() : iniPath);
    state.configLoaded = true;
    if (!state.config.problems.empty()) {
        noteProblem(state.config.problems.front());
        return false;
    }
    return true;
}

void DirClientUseStore(ClientConfig config, std::unique_ptr<tally::store::Store> store) {
    DirClientReset();
    ClientState& state = clientState();
    state.config = std::move(config);
    state.configLoaded = true;
    state.store = std::move(store);
    state.storeTried = true;
}

DirStatus DirClientSaveChanges() {
    ClientState& state = clientState();
    if (!state.store) {
        return DIR_OK;  // nothing was opened, so nothing was changed
    }
    const tally::store::Status status = state.store->Sync();
    if (status != tally::store::kOk) {
        noteProblem(loadedConfig().storeFolder.string() +
                    ": the changes could not be saved to the disk (status " +
                    std::to_string(status) + ")");
    }
    return static_cast<DirStatus>(status);
}

const char* DirClientLastProblem() {
    return clientState().lastProblem.c_str();
}

const ClientConfig& DirClientConfig() {
    return loadedConfig();
}
