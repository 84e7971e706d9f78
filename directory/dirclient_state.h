// State shared by the directory calls and the NetWare calls: the configuration, the store, the
// context table with each context's iterations, and the live buffers.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "directory/buffer_bytes.h"
#include "directory/client_config.h"
#include "directory/dirclient.h"
#include "dirstore/store.h"

namespace tally::directory {

enum class IteratedCall : std::uint8_t { Read, ReadAttrDefs, ReadClassDefs, ListByClass };

// The chunks of a result not yet handed out; made whole at the first call so that a long
// listing yields every name exactly once even while others change the directory.
struct Iteration {
    IteratedCall call;
    ResultKind kind;
    std::deque<Bytes> chunks;
};

struct Context {
    std::uint32_t flags = 0;
    std::string nameContext = DIR_ROOT_NAME;
    std::map<std::int32_t, Iteration> iterations;
    std::int32_t nextIteration = 1;
};

struct ClientState {
    bool configLoaded = false;
    ClientConfig config;
    bool storeTried = false;
    std::unique_ptr<store::Store> store;
    std::string lastProblem;
    bool lastProblemUnreachable = false;  // lastProblem is a server not reached or its TLS refused
    std::map<DirContextHandle, Context> contexts;
    DirContextHandle nextContext = 1;
    std::set<DirBuffer*> buffers;
    // What the last DirModifyObject produced (store::Store::Produced), empty after a failure.
    store::AttributeMap produced;
};

ClientState& TheClientState();
const ClientConfig& LoadedConfig();
void NoteProblem(std::string problem);

// The store brought up to date with what other processes wrote, or null (with the problem
// noted) when it cannot be opened or read.
store::Store* CurrentStore();

// The store the configuration names: the embedded store's folder, or the LDAP server (its
// password read from the PasswordFile or asked for through the prompt set with
// DirClientSetPasswordPrompt). Null with the reason in `problem`, and `unreachable` (when given)
// set when the server could not be reached or its TLS connection was refused.
std::unique_ptr<store::Store> OpenConfiguredStore(const ClientConfig& config, std::string& problem,
                                                  bool* unreachable = nullptr);

}  // namespace tally::directory
