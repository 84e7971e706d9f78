#include "directory/dirclient_state.h"

#include "directory/dirclient_setup.h"

namespace tally::directory {

ClientState& TheClientState() {
    static ClientState state;
    return state;
}

void NoteProblem(std::string problem) {
    TheClientState().lastProblem = std::move(problem);
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
        if (config.storeFolder.empty()) {
            NoteProblem(config.iniFile.string() + ": no store folder is configured");
            return nullptr;
        }
        store::Problem problem;
        state.store = store::Store::Open(config.storeFolder, &problem);
        if (!state.store) {
            NoteProblem(problem.message.empty() ? config.storeFolder.string() + ": cannot be opened"
                                                : problem.Describe());
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

}  // namespace tally::directory

using namespace tally::directory;

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

const ClientConfig& DirClientConfig() {
    return LoadedConfig();
}
