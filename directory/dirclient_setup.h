// Setting the directory client up from outside the program: for tests and tools that want a
// particular tallynet.ini or a store of their own, and to read why the client refuses to work.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "directory/client_config.h"
#include "directory/dirclient.h"

namespace tally::store {
class Store;
}

// Forgets the configuration, the store, every context, buffer and iteration, and the last
// problem. The next call loads the configuration again from DefaultConfigPath().
void DirClientReset();

// Resets the client and loads the configuration from `iniPath` now; the store is opened by the
// first call that needs it. False when the file has problems (DirClientLastProblem names them).
bool DirClientLoadConfig(const char* iniPath);

// Resets the client and uses this configuration and this already opened store.
void DirClientUseStore(tally::directory::ClientConfig config,
                       std::unique_ptr<tally::store::Store> store);

// The latest problem met ("" when none): a configuration line, a store that would not open, a
// value the directory holds in a form its syntax cannot have.
const char* DirClientLastProblem();

// True when that problem is the directory server's connection: the server could not be
// reached, or its TLS connection was refused before the login was sent (a certificate not
// trusted, expired or made out to another name, a CA file that cannot be used). Nothing was
// asked of the server then; the configuration itself may be sound.
bool DirClientServerUnreachable();

// Saves every change this client made so far to the disk (the store's journal is flushed).
// DIR_OK also when there was nothing to save; the failure's status otherwise. Over an LDAP
// server there is nothing to do: the server made each change durable before it answered.
DirStatus DirClientSaveChanges();

// The number that the last DirModifyObject of this client left in `attributeName` (a counter or
// an integer) of the object it changed: as that very change produced it, whatever other
// programs changed since. False when that modify failed or did not change the attribute, or
// when the directory could not tell; the caller then has only a fresh read to go by.
bool DirClientProducedNumber(const char* attributeName, std::int32_t* value);

// The number `attributeName` of `objectName` (named as DirRead names it, in `context`) held when
// this session last saw the object: in a listing, a read or the result of this client's own
// change; the directory is asked only when the session has not seen it. For the value a change
// starts from, which a batch has just listed. DIR_ERR_NO_SUCH_ATTRIBUTE when the object holds
// no such value; over the embedded store the value is the store's own, as DirRead gives it.
DirStatus DirClientKnownNumber(DirContextHandle context, const char* objectName,
                               const char* attributeName, std::int32_t* value);

// Looks up many names of `context` at once where the directory is on a server (a few searches
// for all of them rather than one or more per name), so that the calls that follow on these
// names ask nothing more of the server. Names that are no object are left for those calls to
// find missing; nothing is reported here.
void DirClientLookUpNames(DirContextHandle context, const std::vector<std::string>& names);

// True when the last DirModifyObject failed without telling whether it was made: a directory
// server's answer was lost with the connection, and the entry could not settle it (the server
// stayed away, or others changed the value meanwhile). Its record must neither be written nor
// dropped yet: a later read of the account decides.
bool DirClientChangeInDoubt();

// Modifies sent ahead of their answers, for a batch over a directory server: how many may be on
// their way at once (1 where each change is made on the spot, the embedded store), the request
// started (DIR_OK: its outcome is to be taken; anything else: it was not started, nothing to
// take), and the outcome of the oldest one started, as DirModifyObject would have returned it,
// with what it produced (DirClientProducedNumber) and whether it is in doubt
// (DirClientChangeInDoubt). Outcomes are taken in the order the requests were started.
int DirClientChangesAhead();
DirStatus DirClientSendModify(DirContextHandle context, const char* objectName, DirBuffer* changes);
DirStatus DirClientTakeModify();

// Asks for the directory server's password when tallynet.ini names a BindDN without a
// PasswordFile: `server` is the URL, `bindDn` the name logged in as, `refusal` the server's
// refusal of the password typed before ("" at the first try; the login has three). The password
// goes into `password` (room for `capacity` bytes and the NUL), typed straight into the buffer
// that the bind uses and then wipes. False when the operator gave none. Asked again when a lost
// connection is made anew, since the password is not kept. Kept across DirClientReset().
// Without a prompt such a configuration is a problem.
using DirPasswordPrompt = bool (*)(const char* server, const char* bindDn, const char* refusal,
                                   char* password, std::size_t capacity);
void DirClientSetPasswordPrompt(DirPasswordPrompt prompt);

// The configuration in force, loading it when nothing has yet.
const tally::directory::ClientConfig& DirClientConfig();
