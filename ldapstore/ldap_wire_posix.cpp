// The LDAP operations over OpenLDAP's client library (libldap).
#define LDAP_DEPRECATED 0
#include <ldap.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "ldapstore/ldap_protocol.h"
#include "ldapstore/ldap_tls.h"
#include "ldapstore/ldap_wire.h"
#include "ldapstore/secret_buffer.h"

// libldap hands out the element of a message it has read (the message's contents after its
// ID) by this function, which it exports without declaring it in ldap.h.
extern "C" BerElement* ldap_get_message_ber(LDAPMessage* message);

namespace tally::ldap {
namespace {

// Owners of what libldap hands out, each released the way the library says.
struct MessageFree {
    void operator()(LDAPMessage* message) const { ldap_msgfree(message); }
};
using MessagePtr = std::unique_ptr<LDAPMessage, MessageFree>;

struct BerFree {
    void operator()(BerElement* ber) const { ber_free(ber, 0); }
};
using BerPtr = std::unique_ptr<BerElement, BerFree>;

// A BER element that owns its buffer (made by ber_alloc_t or ber_init).
struct BerBufferFree {
    void operator()(BerElement* ber) const { ber_free(ber, 1); }
};
using BerBufferPtr = std::unique_ptr<BerElement, BerBufferFree>;

struct BervalFree {
    void operator()(berval* value) const { ber_bvfree(value); }
};
using BervalPtr = std::unique_ptr<berval, BervalFree>;

struct MemFree {
    void operator()(char* text) const { ldap_memfree(text); }
};
using TextPtr = std::unique_ptr<char, MemFree>;

struct ControlFree {
    void operator()(LDAPControl* control) const { ldap_control_free(control); }
};
using ControlPtr = std::unique_ptr<LDAPControl, ControlFree>;

struct UnbindLdap {
    void operator()(LDAP* ld) const { ldap_unbind_ext_s(ld, nullptr, nullptr); }
};
using LdapPtr = std::unique_ptr<LDAP, UnbindLdap>;

std::string ServerWords(LDAP* ld) {
    char* text = nullptr;
    if (ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &text) != LDAP_OPT_SUCCESS ||
        text == nullptr) {
        return {};
    }
    TextPtr owned(text);
    return std::string(text);
}

// libldap's own codes for a lost or refused connection are negative; the rest of the client
// knows them by the numbers wldap32 gives them (ldap_wire.h).
int CommonCode(int code) {
    switch (code) {
        case LDAP_SERVER_DOWN:
            return kLdapServerDown;
        case LDAP_CONNECT_ERROR:
            return kLdapConnectError;
        case LDAP_TIMEOUT:
            return kLdapTimeout;
        case LDAP_DECODING_ERROR:
            return kLdapDecodingError;
        default:
            return code;
    }
}

LdapOutcome Outcome(LDAP* ld, int code, const char* serverText = nullptr) {
    LdapOutcome outcome;
    outcome.code = CommonCode(code);
    if (code != LDAP_SUCCESS) {
        outcome.message = ldap_err2string(code);
        std::string words = serverText != nullptr ? std::string(serverText) : ServerWords(ld);
        if (!words.empty()) {
            outcome.message += " (" + words + ")";
        }
    }
    char** urls = nullptr;
    if (code == LDAP_REFERRAL && ld != nullptr &&
        ldap_get_option(ld, LDAP_OPT_REFERRAL_URLS, &urls) == LDAP_OPT_SUCCESS && urls != nullptr) {
        if (urls[0] != nullptr) {
            outcome.referral = urls[0];
        }
        ber_memvfree(reinterpret_cast<void**>(urls));
    }
    return outcome;
}

// A message libldap has read, read again by the program's own reader (ldap_protocol.h): its
// protocolOp and controls, so that every answer is read by the same rules on both builds.
// False with the reason in `why` when it cannot be read.
bool ReadMessage(LDAPMessage* message, SearchAnswer& answer, std::string& why) {
    BerPtr ber(ber_dup(ldap_get_message_ber(message)));
    const int messageId = ldap_msgid(message);
    berval operation{0, nullptr};
    const ber_tag_t tag = ber ? ber_skip_element(ber.get(), &operation) : LBER_DEFAULT;
    if (tag == LBER_DEFAULT || tag > 0xff) {
        why = "the operation of the answer to request " + std::to_string(messageId) +
              " is not a whole BER element";
        return false;
    }
    berval controls{0, nullptr};
    const bool controlled = ber_peek_tag(ber.get(), &controls.bv_len) == ber::kControls;
    if (controlled && ber_skip_element(ber.get(), &controls) == LBER_DEFAULT) {
        why = "the controls of the answer to request " + std::to_string(messageId) +
              " are not a whole BER element";
        return false;
    }
    const std::string_view controlBytes(controls.bv_val != nullptr ? controls.bv_val : "",
                                        controls.bv_len);
    return ParseAnswer(
        messageId, static_cast<unsigned char>(tag),
        std::string_view(operation.bv_val != nullptr ? operation.bv_val : "", operation.bv_len),
        controlled ? &controlBytes : nullptr, answer, &why);
}

// The outcome a result (a search's end, a modify's answer) read by ReadMessage tells.
LdapOutcome OutcomeOf(const SearchAnswer& answer) {
    LdapOutcome outcome = Outcome(nullptr, answer.resultCode, answer.diagnostic.c_str());
    outcome.referral = answer.referral;
    return outcome;
}

// Requests sent ahead are held by a layer of the connection's socket (HeldWrites, below) and
// leave together, in one write, once the program waits for an answer or asks anything else:
// a batch's run of changes costs one system call and one transmission instead of one each.
// Options of ber_sockbuf_ctrl that only that layer answers (1); without it they answer 0.
constexpr int kHoldWrites = 0x7a110;  // hold what is written from now on (argument: the
                                      // milliseconds a full socket may delay it, an int)
constexpr int kSendHeld = 0x7a111;    // write what is held, and hold no more

// The mods as libldap takes them: arrays of pointers into the caller's strings, which outlive
// the call.
class ModArrays {
  public:
    ModArrays() = default;
    explicit ModArrays(const std::vector<LdapMod>& mods) { Fill(mods); }
    // Points the arrays at `mods`, which must outlive the request made with them.
    void Fill(const std::vector<LdapMod>& mods) {
        vals_.clear();
        pointers_.clear();
        for (std::vector<berval*>& values : values_) {
            values.clear();
        }
        values_.resize(mods.size());
        std::size_t valueCount = 0;
        for (const LdapMod& mod : mods) {
            valueCount += mod.values.size();
        }
        vals_.reserve(valueCount);
        for (std::size_t i = 0; i < mods.size(); ++i) {
            const LdapMod& mod = mods[i];
            for (const std::string& value : mod.values) {
                vals_.push_back(
                    berval{static_cast<ber_len_t>(value.size()), const_cast<char*>(value.data())});
            }
        }
        std::size_t next = 0;
        for (std::size_t i = 0; i < mods.size(); ++i) {
            for (std::size_t v = 0; v < mods[i].values.size(); ++v) {
                values_[i].push_back(&vals_[next++]);
            }
            values_[i].push_back(nullptr);
        }
        structs_.resize(mods.size());
        for (std::size_t i = 0; i < mods.size(); ++i) {
            LDAPMod& mod = structs_[i];
            std::memset(&mod, 0, sizeof mod);
            mod.mod_op = OpOf(mods[i].op) | LDAP_MOD_BVALUES;
            mod.mod_type = const_cast<char*>(mods[i].attribute.c_str());
            mod.mod_bvalues = values_[i].data();
            pointers_.push_back(&mod);
        }
        pointers_.push_back(nullptr);
    }
    LDAPMod** Get() { return pointers_.data(); }

  private:
    static int OpOf(LdapModOp op) {
        switch (op) {
            case LdapModOp::Add:
                return LDAP_MOD_ADD;
            case LdapModOp::Delete:
                return LDAP_MOD_DELETE;
            case LdapModOp::Replace:
                return LDAP_MOD_REPLACE;
            case LdapModOp::Increment:
                return LDAP_MOD_INCREMENT;
        }
        return LDAP_MOD_REPLACE;
    }
    std::vector<berval> vals_;
    std::vector<std::vector<berval*>> values_;
    std::vector<LDAPMod> structs_;
    std::vector<LDAPMod*> pointers_;
};

class OpenLdapWire final : public LdapWire {
  public:
    OpenLdapWire(LdapPtr ld, int timeoutSeconds)
        : ld_(std::move(ld)), timeout_{timeoutSeconds, 0} {}

    LdapOutcome Bind(const std::string& dn, std::string_view password) override {
        if (!SendHeld()) {
            return Outcome(ld_.get(), LDAP_SERVER_DOWN, "the requests held could not be sent");
        }
        // The password stays in the caller's buffer, which wipes it. libldap encodes it into
        // the bind request, whose copy the socket's top layer wipes once it is sent
        // (kWipeBindPasswordLayer).
        berval credentials{static_cast<ber_len_t>(password.size()),
                           const_cast<char*>(password.data())};
        int code = ldap_sasl_bind_s(ld_.get(), dn.c_str(), LDAP_SASL_SIMPLE, &credentials, nullptr,
                                    nullptr, nullptr);
        return Outcome(ld_.get(), code);
    }

    LdapOutcome Search(const std::string& base, LdapScope scope, const std::string& filter,
                       const std::vector<std::string>& attributes, std::uint32_t pageSize,
                       const std::function<void(LdapEntry&&)>& take) override {
        if (!SendHeld()) {
            return Outcome(ld_.get(), LDAP_SERVER_DOWN, "the requests held could not be sent");
        }
        std::vector<char*> names;
        for (const std::string& attribute : attributes) {
            names.push_back(const_cast<char*>(attribute.c_str()));
        }
        names.push_back(nullptr);
        const int ldapScope = scope == LdapScope::Base       ? LDAP_SCOPE_BASE
                              : scope == LdapScope::OneLevel ? LDAP_SCOPE_ONELEVEL
                                                             : LDAP_SCOPE_SUBTREE;
        berval cookie{0, nullptr};
        std::string cookieBytes;
        while (true) {
            ControlPtr pageControl;
            LDAPControl* serverControls[2] = {nullptr, nullptr};
            if (pageSize > 0) {
                LDAPControl* made = nullptr;
                int code = ldap_create_page_control(ld_.get(), static_cast<ber_int_t>(pageSize),
                                                    &cookie, 1, &made);
                if (code != LDAP_SUCCESS) {
                    return Outcome(ld_.get(), code);
                }
                pageControl.reset(made);
                serverControls[0] = made;
            }
            LDAPMessage* raw = nullptr;
            timeval limit = timeout_;
            const int code =
                ldap_search_ext_s(ld_.get(), base.c_str(), ldapScope, filter.c_str(), names.data(),
                                  0, serverControls, nullptr, &limit, LDAP_NO_LIMIT, &raw);
            MessagePtr result(raw);
            // The page's entries and its end are read by the program's reader; libldap's own
            // code tells only what it could not hand over (a timeout, a lost connection).
            std::vector<LdapEntry> entries;
            SearchAnswer done;
            bool ended = false;
            for (LDAPMessage* message = result ? ldap_first_message(ld_.get(), result.get())
                                               : nullptr;
                 message != nullptr && !ended; message = ldap_next_message(ld_.get(), message)) {
                const int type = ldap_msgtype(message);
                if (type != LDAP_RES_SEARCH_ENTRY && type != LDAP_RES_SEARCH_RESULT) {
                    continue;
                }
                SearchAnswer answer;
                std::string why;
                if (!ReadMessage(message, answer, why)) {
                    return LdapOutcome{kLdapDecodingError, UnreadableAnswer(why)};
                }
                if (answer.kind == SearchAnswer::Kind::Entry) {
                    entries.push_back(std::move(answer.entry));
                } else {
                    done = std::move(answer);
                    ended = true;
                }
            }
            if (!ended) {
                return Outcome(ld_.get(), code == LDAP_SUCCESS ? LDAP_DECODING_ERROR : code);
            }
            if (done.resultCode != LDAP_SUCCESS) {
                return OutcomeOf(done);
            }
            // The whole page was read: its entries are handed over.
            for (LdapEntry& entry : entries) {
                take(std::move(entry));
            }
            // The page's end carries the cookie for the next page; an empty one (or none: the
            // server sent everything at once) ends it.
            if (pageSize == 0 || !done.pageCookie || done.pageCookie->empty()) {
                return {};
            }
            cookieBytes = std::move(*done.pageCookie);
            cookie = berval{static_cast<ber_len_t>(cookieBytes.size()), cookieBytes.data()};
        }
    }

    LdapOutcome Modify(const std::string& dn, const std::vector<LdapMod>& mods) override {
        if (!SendHeld()) {
            return Outcome(ld_.get(), LDAP_SERVER_DOWN, "the requests held could not be sent");
        }
        ModArrays arrays(mods);
        return Outcome(ld_.get(),
                       ldap_modify_ext_s(ld_.get(), dn.c_str(), arrays.Get(), nullptr, nullptr));
    }

    LdapOutcome ModifyAndRead(const std::string& dn, const std::vector<LdapMod>& mods,
                              const std::vector<std::string>& readBack, LdapEntry& after) override {
        if (!SendHeld()) {
            return Outcome(ld_.get(), LDAP_SERVER_DOWN, "the requests held could not be sent");
        }
        after = LdapEntry{};
        int messageId = 0;
        const LdapOutcome sent = StartModify(dn, mods, readBack, messageId);
        return sent.Ok() ? AwaitModify(messageId, after) : sent;
    }

    bool SendsAhead() const override { return true; }

    LdapOutcome SendModifyAndRead(const std::string& dn, const std::vector<LdapMod>& mods,
                                  const std::vector<std::string>& readBack) override {
        if (!holding_) {
            int waitMs = static_cast<int>(timeout_.tv_sec) * 1000;
            holding_ = SocketControl(kHoldWrites, &waitMs) == 1;
        }
        int messageId = 0;
        LdapOutcome sent = StartModify(dn, mods, readBack, messageId);
        if (sent.Ok()) {
            sentAhead_.push_back(messageId);
        }
        return sent;
    }

    LdapOutcome TakeModifyAnswer(LdapEntry& after) override {
        after = LdapEntry{};
        if (sentAhead_.empty()) {
            return Outcome(ld_.get(), LDAP_SERVER_DOWN);
        }
        const int messageId = sentAhead_.front();
        sentAhead_.pop_front();
        if (!SendHeld()) {
            return Outcome(ld_.get(), LDAP_SERVER_DOWN, "the requests held could not be sent");
        }
        return AwaitModify(messageId, after);
    }

    LdapOutcome WhoAmI(std::string& authzId) override {
        if (!SendHeld()) {
            return Outcome(ld_.get(), LDAP_SERVER_DOWN, "the requests held could not be sent");
        }
        authzId.clear();
        berval* raw = nullptr;
        const int code = ldap_whoami_s(ld_.get(), &raw, nullptr, nullptr);
        BervalPtr identity(raw);
        if (code == LDAP_SUCCESS && identity && identity->bv_val != nullptr) {
            authzId.assign(identity->bv_val, identity->bv_len);
        }
        return Outcome(ld_.get(), code);
    }

    LdapOutcome Add(const std::string& dn, const std::vector<LdapMod>& attributes) override {
        if (!SendHeld()) {
            return Outcome(ld_.get(), LDAP_SERVER_DOWN, "the requests held could not be sent");
        }
        ModArrays arrays(attributes);
        return Outcome(ld_.get(),
                       ldap_add_ext_s(ld_.get(), dn.c_str(), arrays.Get(), nullptr, nullptr));
    }

    LdapOutcome Delete(const std::string& dn) override {
        if (!SendHeld()) {
            return Outcome(ld_.get(), LDAP_SERVER_DOWN, "the requests held could not be sent");
        }
        return Outcome(ld_.get(), ldap_delete_ext_s(ld_.get(), dn.c_str(), nullptr, nullptr));
    }

  private:
    int SocketControl(int option, int* argument = nullptr) {
        Sockbuf* socket = nullptr;
        if (ldap_get_option(ld_.get(), LDAP_OPT_SOCKBUF, &socket) != LDAP_OPT_SUCCESS ||
            socket == nullptr) {
            return 0;
        }
        return ber_sockbuf_ctrl(socket, option, argument);
    }
    // False when what was held could not be written (the connection is gone).
    bool SendHeld() {
        if (!holding_) {
            return true;
        }
        holding_ = false;
        return SocketControl(kSendHeld) == 1;
    }

    // Sends the modify with the post-read control for `readBack` (critical): libldap encodes
    // and writes the request before it returns, so nothing of the caller's is kept.
    LdapOutcome StartModify(const std::string& dn, const std::vector<LdapMod>& mods,
                            const std::vector<std::string>& readBack, int& messageId) {
        // The control's value is the list of attributes to return (an AttributeSelection),
        // the same for every change of a batch: encoded once.
        if (readBack != readBack_ || postRead_.empty()) {
            std::vector<char*> names;
            for (const std::string& name : readBack) {
                names.push_back(const_cast<char*>(name.c_str()));
            }
            names.push_back(nullptr);
            BerBufferPtr request(ber_alloc_t(LBER_USE_DER));
            berval value{0, nullptr};
            if (!request || ber_printf(request.get(), "{v}", names.data()) == -1 ||
                ber_flatten2(request.get(), &value, 0) == -1) {
                return Outcome(ld_.get(), LDAP_ENCODING_ERROR);
            }
            postRead_.assign(value.bv_val, value.bv_len);
            readBack_ = readBack;
        }
        LDAPControl control{const_cast<char*>(kPostReadControl),
                            berval{static_cast<ber_len_t>(postRead_.size()), postRead_.data()}, 1};
        LDAPControl* serverControls[2] = {&control, nullptr};
        arrays_.Fill(mods);
        return Outcome(ld_.get(), ldap_modify_ext(ld_.get(), dn.c_str(), arrays_.Get(),
                                                  serverControls, nullptr, &messageId));
    }

    // Waits (at most the timeout) for the answer to the modify `messageId`; answers to other
    // requests that arrive meanwhile wait in libldap for their own turn.
    LdapOutcome AwaitModify(int messageId, LdapEntry& after) {
        LDAPMessage* raw = nullptr;
        timeval limit = timeout_;
        int code = ldap_result(ld_.get(), messageId, LDAP_MSG_ALL, &limit, &raw);
        MessagePtr result(raw);
        if (code == 0) {
            // No answer in time: the change may still be made, so it is not sent again.
            ldap_abandon_ext(ld_.get(), messageId, nullptr, nullptr);
            return Outcome(ld_.get(), LDAP_TIMEOUT);
        }
        if (code < 0) {
            int failure = LDAP_SERVER_DOWN;
            ldap_get_option(ld_.get(), LDAP_OPT_RESULT_CODE, &failure);
            return Outcome(ld_.get(), failure);
        }
        SearchAnswer answer;
        std::string why;
        if (!ReadMessage(result.get(), answer, why)) {
            return LdapOutcome{kLdapDecodingError, UnreadableAnswer(why)};
        }
        if (answer.kind != SearchAnswer::Kind::Modified) {
            return LdapOutcome{kLdapDecodingError,
                               UnreadableAnswer("the answer to request " +
                                                std::to_string(messageId) + " is not a modify's")};
        }
        if (answer.resultCode != LDAP_SUCCESS) {
            return OutcomeOf(answer);
        }
        after = std::move(answer.entry);
        return {};
    }

    LdapPtr ld_;
    timeval timeout_;
    std::deque<int> sentAhead_;          // modifies sent ahead whose answers are not taken yet
    bool holding_ = false;               // the socket's layer holds what is written
    std::vector<std::string> readBack_;  // the attributes that postRead_ asks for
    std::string postRead_;               // the Post-Read control's value, encoded
    ModArrays arrays_;                   // the request's arrays, kept from one modify to the next
};

// libldap says why TLS failed only in its log ("TLS: peer cert untrusted or revoked", "TLS:
// hostname (...) does not match ..."); its result is "Can't contact LDAP server" whatever the
// reason. So its log is taken in, by the thread that connects, only while it connects.
thread_local std::string* libraryLog = nullptr;

void KeepLibraryLine(const char* line) {
    if (libraryLog != nullptr && line != nullptr) {
        libraryLog->append(line);
    }
}

class LibraryLogCapture {
  public:
    LibraryLogCapture() {
        static std::once_flag once;
        std::call_once(once, [] {
            ber_set_option(nullptr, LBER_OPT_LOG_PRINT_FN,
                           reinterpret_cast<const void*>(&KeepLibraryLine));
            SetLevel(kErrorsOnly);
        });
        libraryLog = &text_;
        // GnuTLS's verification status (what tells an expired certificate from one nobody
        // vouches for) is written at the trace level: traced while some thread connects.
        std::lock_guard<std::mutex> lock(LevelMutex());
        if (connecting_++ == 0) {
            SetLevel(kErrorsOnly | kTrace);
        }
    }
    ~LibraryLogCapture() {
        libraryLog = nullptr;
        std::lock_guard<std::mutex> lock(LevelMutex());
        if (--connecting_ == 0) {
            SetLevel(kErrorsOnly);
        }
    }
    LibraryLogCapture(const LibraryLogCapture&) = delete;
    LibraryLogCapture& operator=(const LibraryLogCapture&) = delete;
    const std::string& Text() const { return text_; }

  private:
    // The "none" level: only the messages libldap writes whatever the level (errors).
    static constexpr int kErrorsOnly = 0x8000;
    static constexpr int kTrace = 0x1;
    static void SetLevel(int level) { ldap_set_option(nullptr, LDAP_OPT_DEBUG_LEVEL, &level); }
    static std::mutex& LevelMutex() {
        static std::mutex mutex;
        return mutex;
    }
    static inline int connecting_ = 0;
    std::string text_;
};

// libldap bounds the TCP connect and each awaited answer by the timeouts set, but reads the TLS
// handshake on a blocking socket (retrying for ever when the socket has a read timeout): a
// server that takes the connection and says nothing would hold the start for ever. So while
// ConnectLdap runs, a watchdog shuts the socket down once the Timeout has passed; the
// handshake then fails instead.
class ConnectWatchdog {
  public:
    explicit ConnectWatchdog(int seconds)
        : thread_([this, seconds] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!wake_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; }) &&
                  socket_ >= 0) {
                  shutdown(socket_, SHUT_RDWR);
              }
          }) {}
    ~ConnectWatchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    ConnectWatchdog(const ConnectWatchdog&) = delete;
    ConnectWatchdog& operator=(const ConnectWatchdog&) = delete;
    void Watch(int socket) {
        std::lock_guard<std::mutex> lock(mutex_);
        socket_ = socket;
    }

  private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    int socket_ = -1;
    std::thread thread_;
};

// The watchdog of the connection this thread is making (libldap calls back on it).
thread_local ConnectWatchdog* connecting = nullptr;

// The layer that holds requests (kHoldWrites) until they are sent together (kSendHeld). It
// sits below TLS, so what it holds is already encrypted, and holds nothing unless asked to.
struct HeldWrites {
    bool holding = false;
    int waitMs = 0;  // how long a full socket may keep what is held from leaving
    std::string pending;
};

HeldWrites& HeldOf(Sockbuf_IO_Desc* layer) {
    return *static_cast<HeldWrites*>(layer->sbiod_pvt);
}

bool WriteHeld(Sockbuf_IO_Desc* layer) {
    std::string& pending = HeldOf(layer).pending;
    std::size_t written = 0;
    while (written < pending.size()) {
        const ber_slen_t sent =
            LBER_SBIOD_WRITE_NEXT(layer, pending.data() + written, pending.size() - written);
        if (sent > 0) {
            written += static_cast<std::size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        ber_socket_t fd = -1;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
            ber_sockbuf_ctrl(layer->sbiod_sb, LBER_SB_OPT_GET_FD, &fd) == 1) {
            pollfd writable{fd, POLLOUT, 0};
            if (poll(&writable, 1, HeldOf(layer).waitMs) > 0) {
                continue;
            }
        }
        pending.clear();
        return false;
    }
    pending.clear();
    return true;
}

int HeldSetup(Sockbuf_IO_Desc* layer, void*) {
    layer->sbiod_pvt = new HeldWrites;
    return 0;
}

int HeldRemove(Sockbuf_IO_Desc* layer) {
    delete static_cast<HeldWrites*>(layer->sbiod_pvt);
    layer->sbiod_pvt = nullptr;
    return 0;
}

int HeldControl(Sockbuf_IO_Desc* layer, int option, void* argument) {
    if (option == kHoldWrites) {
        HeldOf(layer).holding = true;
        HeldOf(layer).waitMs = *static_cast<const int*>(argument);
        return 1;
    }
    if (option == kSendHeld) {
        HeldOf(layer).holding = false;
        return WriteHeld(layer) ? 1 : -1;
    }
    return LBER_SBIOD_CTRL_NEXT(layer, option, argument);
}

ber_slen_t HeldRead(Sockbuf_IO_Desc* layer, void* buffer, ber_len_t length) {
    return LBER_SBIOD_READ_NEXT(layer, buffer, length);
}

ber_slen_t HeldWrite(Sockbuf_IO_Desc* layer, void* buffer, ber_len_t length) {
    HeldWrites& held = HeldOf(layer);
    if (held.holding) {
        held.pending.append(static_cast<const char*>(buffer), length);
        return static_cast<ber_slen_t>(length);
    }
    if (!held.pending.empty() && !WriteHeld(layer)) {
        return -1;
    }
    return LBER_SBIOD_WRITE_NEXT(layer, buffer, length);
}

int HeldClose(Sockbuf_IO_Desc*) {
    return 0;
}

Sockbuf_IO kHeldWritesLayer{HeldSetup, HeldRemove, HeldControl, HeldRead, HeldWrite, HeldClose};

// libldap copies the bind password into the request it encodes, keeps that request until the
// answer and frees it unwiped (its memory functions are called only for a server's allocations):
// after a refused login the password lay in freed memory while the program told the refusal.
// This layer sits on top of the socket, above TLS, where libldap hands down the encoded request
// itself; once a bind request has gone on, the password in it is wiped where libldap holds it.
// libldap reads a request it keeps again only to chase a referral, which the wire turns off.

// The length of the element whose length octets begin at `at`, moving `at` past them; false
// when they run past `end` or say more than fits.
bool BerLength(const unsigned char*& at, const unsigned char* end, std::size_t& length) {
    if (at >= end) {
        return false;
    }
    const unsigned char first = *at++;
    if (first < 0x80) {
        length = first;
        return true;
    }
    const std::size_t octets = first & 0x7F;
    if (octets == 0 || octets > sizeof(std::size_t) ||
        static_cast<std::size_t>(end - at) < octets) {
        return false;
    }
    length = 0;
    for (std::size_t i = 0; i < octets; ++i) {
        length = (length << 8) | *at++;
    }
    return true;
}

// The element at `at` with tag `tag`: its contents in [contents, contents + length).
bool BerElement(const unsigned char*& at, const unsigned char* end, unsigned char tag,
                const unsigned char*& contents, std::size_t& length) {
    if (at >= end || *at++ != tag || !BerLength(at, end, length) ||
        static_cast<std::size_t>(end - at) < length) {
        return false;
    }
    contents = at;
    at += length;
    return true;
}

// Wipes the simple password of an LDAPMessage holding a BindRequest; leaves anything else.
void WipeBindPassword(void* message, std::size_t size) {
    constexpr unsigned char kSequence = 0x30;
    constexpr unsigned char kInteger = 0x02;
    constexpr unsigned char kBindRequest = 0x60;  // [APPLICATION 0], constructed
    constexpr unsigned char kOctetString = 0x04;
    constexpr unsigned char kSimple = 0x80;  // [0], primitive
    const auto* at = static_cast<const unsigned char*>(message);
    const unsigned char* end = at + size;
    const unsigned char* contents = nullptr;
    std::size_t length = 0;
    if (!BerElement(at, end, kSequence, contents, length)) {
        return;
    }
    at = contents;
    end = contents + length;
    if (!BerElement(at, end, kInteger, contents, length) ||
        !BerElement(at, end, kBindRequest, contents, length)) {
        return;
    }
    at = contents;
    end = contents + length;
    if (BerElement(at, end, kInteger, contents, length) &&
        BerElement(at, end, kOctetString, contents, length) &&
        BerElement(at, end, kSimple, contents, length)) {
        WipeBytes(const_cast<unsigned char*>(contents), length);
    }
}

int WipeSetup(Sockbuf_IO_Desc*, void*) {
    return 0;
}

int WipeRemove(Sockbuf_IO_Desc*) {
    return 0;
}

int WipeControl(Sockbuf_IO_Desc* layer, int option, void* argument) {
    return LBER_SBIOD_CTRL_NEXT(layer, option, argument);
}

ber_slen_t WipeRead(Sockbuf_IO_Desc* layer, void* buffer, ber_len_t length) {
    return LBER_SBIOD_READ_NEXT(layer, buffer, length);
}

ber_slen_t WipeWrite(Sockbuf_IO_Desc* layer, void* buffer, ber_len_t length) {
    const ber_slen_t written = LBER_SBIOD_WRITE_NEXT(layer, buffer, length);
    if (written > 0 && static_cast<ber_len_t>(written) == length) {
        WipeBindPassword(buffer, length);
    }
    return written;
}

int WipeClose(Sockbuf_IO_Desc*) {
    return 0;
}

Sockbuf_IO kWipeBindPasswordLayer{WipeSetup, WipeRemove, WipeControl,
                                  WipeRead,  WipeWrite,  WipeClose};

int WatchNewSocket(LDAP*, Sockbuf* sb, LDAPURLDesc*, sockaddr*, ldap_conncb*) {
    // libldap reads each message's header and its body with a read of its own, and polls before
    // each: two or three system calls for every entry of a listing and every answer to a
    // change. Read ahead over the socket (below TLS, where there is TLS) takes what has arrived.
    ber_sockbuf_add_io(sb, &ber_sockbuf_io_readahead, LBER_SBIOD_LEVEL_PROVIDER + 1, nullptr);
    ber_sockbuf_add_io(sb, &kHeldWritesLayer, LBER_SBIOD_LEVEL_PROVIDER + 2, nullptr);
    // A message announcing more than one may hold is refused as it begins, not waited for (and
    // its buffer not made).
    ber_len_t most = kMostMessageBytes;
    ber_sockbuf_ctrl(sb, LBER_SB_OPT_SET_MAX_INCOMING, &most);
    ber_sockbuf_add_io(sb, &kWipeBindPasswordLayer, LBER_SBIOD_LEVEL_APPLICATION, nullptr);
    ber_socket_t fd = -1;
    if (connecting != nullptr && ber_sockbuf_ctrl(sb, LBER_SB_OPT_GET_FD, &fd) == 1 && fd >= 0) {
        connecting->Watch(fd);
    }
    return 0;
}

void ForgetSocket(LDAP*, Sockbuf*, ldap_conncb*) {}

// libldap keeps a pointer to it for the connection's life: one for all, without state.
ldap_conncb kWatchNewSocket{WatchNewSocket, ForgetSocket, nullptr};

}  // namespace

namespace {

// libldap writes to its socket without MSG_NOSIGNAL: a request sent just as the server goes
// away would end the whole program with SIGPIPE instead of failing with "Can't contact LDAP
// server", which the store rides out. A handler the program set itself is left alone.
void IgnoreBrokenPipes() {
    static const bool done = [] {
        struct sigaction current {};
        if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            sigemptyset(&ignore.sa_mask);
            sigaction(SIGPIPE, &ignore, nullptr);
        }
        return true;
    }();
    (void)done;
}

}  // namespace

std::unique_ptr<LdapWire> ConnectLdap(const LdapEndpoint& endpoint, LdapOutcome* failure) {
    IgnoreBrokenPipes();
    LDAP* raw = nullptr;
    int code = ldap_initialize(&raw, endpoint.url.c_str());
    LdapPtr ld(raw);
    if (code != LDAP_SUCCESS || !ld) {
        *failure = Outcome(nullptr, code == LDAP_SUCCESS ? LDAP_PARAM_ERROR : code,
                           "the URL cannot be used");
        return nullptr;
    }
    int version = LDAP_VERSION3;
    ldap_set_option(ld.get(), LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_option(ld.get(), LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    timeval limit{endpoint.timeoutSeconds, 0};
    ldap_set_option(ld.get(), LDAP_OPT_NETWORK_TIMEOUT, &limit);
    ldap_set_option(ld.get(), LDAP_OPT_TIMEOUT, &limit);
    ldap_set_option(ld.get(), LDAP_OPT_CONNECT_CB, &kWatchNewSocket);
    const bool tls = endpoint.startTls || endpoint.url.rfind("ldaps://", 0) == 0;
    if (!endpoint.caFile.empty()) {
        std::vector<std::string> certificates;
        std::string problem;
        if (tls && !ReadCaCertificates(endpoint.caFile, certificates, problem)) {
            *failure =
                LdapOutcome{kLdapTlsRefused, TlsRefusalText(TlsRefusal::CaFileUnusable, problem)};
            return nullptr;
        }
        ldap_set_option(ld.get(), LDAP_OPT_X_TLS_CACERTFILE, endpoint.caFile.c_str());
    }
    int require = endpoint.verifyServer ? LDAP_OPT_X_TLS_DEMAND : LDAP_OPT_X_TLS_NEVER;
    ldap_set_option(ld.get(), LDAP_OPT_X_TLS_REQUIRE_CERT, &require);
    int fresh = 0;
    ldap_set_option(ld.get(), LDAP_OPT_X_TLS_NEWCTX, &fresh);
    LibraryLogCapture log;
    ConnectWatchdog watchdog(endpoint.timeoutSeconds);
    connecting = &watchdog;
    // libldap connects lazily; connect now so that an unreachable server is told at once.
    code =
        endpoint.startTls ? ldap_start_tls_s(ld.get(), nullptr, nullptr) : ldap_connect(ld.get());
    connecting = nullptr;
    if (code != LDAP_SUCCESS) {
        std::string refusal;
        if (tls && TlsRefusalInLibraryLog(log.Text(), refusal)) {
            *failure = LdapOutcome{kLdapTlsRefused, refusal};
        } else {
            *failure = Outcome(ld.get(), code);
            if (endpoint.startTls) {
                failure->message = "StartTLS failed: " + failure->message;
            }
        }
        return nullptr;
    }
    return std::make_unique<OpenLdapWire>(std::move(ld), endpoint.timeoutSeconds);
}

}  // namespace tally::ldap
