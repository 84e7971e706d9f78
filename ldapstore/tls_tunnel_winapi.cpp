// The thread that carries wldap32's plain LDAP to the directory server over TLS (or over a plain
// connection), and the searches and modifies the relay sends itself on that connection
// (tls_tunnel.h).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "ldapstore/ldap_bind.h"
#include "ldapstore/ldap_protocol.h"
#include "ldapstore/tls_connection_winapi.h"
#include "ldapstore/tls_tunnel.h"

namespace tally::ldap {
namespace {

using namespace tls;

class WinTlsTunnel final : public TlsTunnel {
  public:
    // A null `session` relays the bytes as they are (a plain ldap:// connection).
    WinTlsTunnel(Socket server, Socket listener, std::unique_ptr<TlsSession> session,
                 unsigned short localPort, int timeoutSeconds)
        : server_(std::move(server)),
          listener_(std::move(listener)),
          session_(std::move(session)),
          localPort_(localPort),
          timeout_(std::chrono::seconds(timeoutSeconds)) {}

    ~WinTlsTunnel() override {
        stop_ = true;
        if (carrier_.joinable()) {
            carrier_.join();
        }
    }

    unsigned short LocalPort() const override { return localPort_; }

    LdapOutcome Start(unsigned short clientPort) override {
        clientPort_ = clientPort;
        carrier_ = std::thread([this] {
            if (TakeClient()) {
                Carry();
            }
            std::lock_guard<std::mutex> lock(io_);
            Close();
        });
        return {};
    }

    LdapOutcome RunSearch(const SearchRequest& request, std::vector<LdapEntry>& entries,
                          SearchAnswer& done) override {
        std::string problem;
        const std::int32_t messageId = nextMessageId_--;
        std::optional<std::string> encoded = EncodeSearchRequest(messageId, request, &problem);
        if (!encoded) {
            return Failure(kLdapFilterError, problem);
        }
        std::lock_guard<std::mutex> lock(io_);
        if (closed_) {
            return Failure(kLdapServerDown, "Can't contact LDAP server");
        }
        if (!ToServer(encoded->data(), encoded->size(), Clock::now() + timeout_)) {
            return Lost("Can't contact LDAP server");
        }
        // The whole answer comes within the Timeout, as libldap waits for it natively: a server
        // that sends a message a byte at a time is given up like a silent one.
        const Clock::time_point limit = Clock::now() + timeout_;
        std::string incoming = std::move(fromServer_);
        fromServer_.clear();
        std::size_t at = 0;
        LdapOutcome outcome;
        while (true) {
            std::size_t size = 0;
            std::string why;
            const Arrival arrival = FirstMessage(std::string_view(incoming).substr(at), size, &why);
            if (arrival == Arrival::Refused) {
                return Lost(Failure(kLdapDecodingError, UnreadableAnswer(why)));
            }
            if (arrival == Arrival::Partial) {
                incoming.erase(0, at);
                at = 0;
                if (const LdapOutcome got = FromServerWithin(incoming, limit); !got.Ok()) {
                    return got;
                }
                continue;
            }
            const std::string_view message = std::string_view(incoming).substr(at, size);
            at += size;
            if (MessageIdOf(message) != messageId) {
                // A modify of the relay's own waits for its take; anything else is the
                // library's (the late answer to a request it gave up on).
                if (!Route(message)) {
                    return Lost("Can't contact LDAP server");
                }
                continue;
            }
            SearchAnswer answer;
            if (!ParseSearchAnswer(message, answer, &why)) {
                // The whole answer is refused. The connection stays: the messages are whole,
                // and the rest of this search's are dropped as they come (Route).
                entries.clear();
                outcome = Failure(kLdapDecodingError, UnreadableAnswer(why));
                break;
            }
            if (answer.kind == SearchAnswer::Kind::Entry) {
                entries.push_back(std::move(answer.entry));
            } else if (answer.kind == SearchAnswer::Kind::Done) {
                done = std::move(answer);
                break;
            }
        }
        // Whatever followed is read on as the carrier reads (the answers to modifies sent
        // ahead may be among it, and the rest goes to the library).
        fromServer_.assign(std::string_view(incoming).substr(at));
        if (const LdapOutcome routed = RouteWhatArrived(); !routed.Ok()) {
            return Lost(routed);
        }
        return outcome;
    }

    LdapOutcome SendModify(const std::string& dn, const std::vector<LdapMod>& mods,
                           const std::vector<std::string>& readBack) override {
        const std::int32_t messageId = nextMessageId_--;
        const std::string encoded = EncodeModifyRequest(messageId, dn, mods, readBack);
        std::lock_guard<std::mutex> lock(io_);
        if (closed_) {
            return Failure(kLdapServerDown, "Can't contact LDAP server");
        }
        if (!ToServer(encoded.data(), encoded.size(), Clock::now() + timeout_)) {
            return Lost("Can't contact LDAP server");
        }
        sentAhead_.push_back(messageId);
        return {};
    }

    LdapOutcome TakeModify(SearchAnswer& answer) override {
        std::lock_guard<std::mutex> lock(io_);
        if (sentAhead_.empty()) {
            return Failure(kLdapServerDown, "no change was sent ahead");
        }
        const std::int32_t messageId = sentAhead_.front();
        // Its answer comes within the Timeout of the take, as natively.
        const Clock::time_point limit = Clock::now() + timeout_;
        while (answered_.count(messageId) == 0) {
            if (closed_) {
                sentAhead_.pop_front();
                return Failure(kLdapServerDown, "Can't contact LDAP server");
            }
            LdapOutcome got = FromServerWithin(fromServer_, limit);
            if (got.Ok()) {
                got = RouteWhatArrived();
            }
            if (!got.Ok()) {
                sentAhead_.pop_front();
                return Lost(got);
            }
        }
        sentAhead_.pop_front();
        const std::string message = std::move(answered_[messageId]);
        answered_.erase(messageId);
        std::string why;
        if (!ParseSearchAnswer(message, answer, &why)) {
            return Failure(kLdapDecodingError, UnreadableAnswer(why));
        }
        if (answer.kind != SearchAnswer::Kind::Modified) {
            answer = SearchAnswer{};
            return Failure(kLdapDecodingError,
                           UnreadableAnswer("the answer to request " + std::to_string(messageId) +
                                            " is not a modify's"));
        }
        return {};
    }

    LdapOutcome RunBind(const std::string& dn, std::string_view password,
                        BindAnswer& answer) override {
        const std::int32_t messageId = nextMessageId_--;
        std::vector<char> request;
        EncodeSimpleBind(messageId, dn, password, request);
        std::lock_guard<std::mutex> lock(io_);
        const bool sent =
            !closed_ && ToServer(request.data(), request.size(), Clock::now() + timeout_);
        SecureZeroMemory(request.data(), request.size());
        if (closed_) {
            return Failure(kLdapServerDown, "Can't contact LDAP server");
        }
        if (!sent) {
            return Lost("Can't contact LDAP server");
        }
        // The whole answer comes within the Timeout, as a search's does.
        const Clock::time_point limit = Clock::now() + timeout_;
        while (true) {
            std::size_t size = 0;
            std::string why;
            const Arrival arrival = FirstMessage(fromServer_, size, &why);
            if (arrival == Arrival::Refused) {
                return Lost(Failure(kLdapDecodingError, UnreadableAnswer(why)));
            }
            if (arrival == Arrival::Partial) {
                if (const LdapOutcome got = FromServerWithin(fromServer_, limit); !got.Ok()) {
                    return got;
                }
                continue;
            }
            const std::string message = fromServer_.substr(0, size);
            fromServer_.erase(0, size);
            if (MessageIdOf(message) != messageId) {
                if (!Route(message)) {
                    return Lost("Can't contact LDAP server");
                }
                continue;
            }
            if (!ParseBindResponse(message, answer)) {
                return Lost(
                    Failure(kLdapDecodingError,
                            UnreadableAnswer("the answer to the login is no bind response")));
            }
            break;
        }
        if (const LdapOutcome routed = RouteWhatArrived(); !routed.Ok()) {
            return Lost(routed);
        }
        return {};
    }

  private:
    // Waits (the Timeout at most) for the library's connection, which wldap32 makes at its first
    // request, not at ldap_connect. Then the port is closed to anybody else.
    bool TakeClient() {
        const auto limit = Clock::now() + timeout_;
        while (!stop_ && !WaitFor(listener_.Get(), false,
                                  std::min(limit, Clock::now() + std::chrono::milliseconds(200)))) {
            if (Clock::now() >= limit) {
                return false;
            }
        }
        if (stop_) {
            return false;
        }
        sockaddr_storage peer{};
        int length = sizeof peer;
        Socket accepted(accept(listener_.Get(), reinterpret_cast<sockaddr*>(&peer), &length));
        listener_.Reset();
        if (!accepted.Valid() || (clientPort_ != 0 && PortOf(peer) != clientPort_)) {
            return false;
        }
        std::lock_guard<std::mutex> lock(io_);
        client_ = std::move(accepted);
        if (!session_) {
            return true;
        }
        // Ciphertext that came with the end of the handshake is read as what follows it.
        return session_->TakeEarlyData(fromServer_) && RouteWhatArrived().Ok();
    }

    // Carries bytes both ways until either side closes, the server sends what cannot be a
    // message, or it leaves a request unanswered (or a message it began unfinished) for the
    // Timeout; then both sockets close, and the library's call in progress fails as with a lost
    // connection instead of waiting for ever. A search the relay runs itself holds the
    // connection meanwhile and may take what select saw arrive, so the sockets are asked again
    // once the connection is held.
    void Carry() {
        std::vector<char> chunk(65536);
        bool awaitingServer = false;
        Clock::time_point lastRequest{};
        while (!stop_) {
            if (Readable(timeval{0, 200000}) < 0) {
                break;
            }
            std::lock_guard<std::mutex> lock(io_);
            if (closed_) {
                break;
            }
            const int ready = Readable(timeval{0, 0});
            if (ready < 0) {
                break;
            }
            if ((ready & kClientReady) != 0) {
                const int got =
                    recv(client_.Get(), chunk.data(), static_cast<int>(chunk.size()), 0);
                if (got <= 0 || !ToServer(chunk.data(), static_cast<std::size_t>(got),
                                          Clock::now() + timeout_)) {
                    break;
                }
                if (!awaitingServer) {
                    awaitingServer = true;
                    lastRequest = Clock::now();
                }
            }
            if ((ready & kServerReady) != 0) {
                const int got =
                    recv(server_.Get(), chunk.data(), static_cast<int>(chunk.size()), 0);
                std::string plain;
                if (got <= 0 || !FromServer(chunk.data(), static_cast<std::size_t>(got), plain)) {
                    break;
                }
                fromServer_ += plain;
                std::size_t routed = 0;
                if (!RouteWhatArrived(&routed).Ok()) {
                    break;
                }
                // A byte now and then is no answer: the clock starts again only when a whole
                // message came, or when the server begins one unasked.
                if (routed > 0 || !awaitingServer) {
                    awaitingServer = !fromServer_.empty();
                    lastRequest = Clock::now();
                }
            }
            if (awaitingServer && Clock::now() - lastRequest > timeout_) {
                break;
            }
        }
    }

    static constexpr int kClientReady = 1;
    static constexpr int kServerReady = 2;

    // Which sockets have something to read, waiting `wait` at most; -1 on failure.
    int Readable(timeval wait) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(client_.Get(), &readable);
        FD_SET(server_.Get(), &readable);
        if (select(0, &readable, nullptr, nullptr, &wait) < 0) {
            return -1;
        }
        return (FD_ISSET(client_.Get(), &readable) ? kClientReady : 0) |
               (FD_ISSET(server_.Get(), &readable) ? kServerReady : 0);
    }

    static bool RelaysOwn(std::int32_t messageId) { return messageId >= kFirstRelayId; }

    // One whole message from the server that the relay is not reading for: the answer to a
    // modify it sent ahead waits for its take, a late answer to a request of its own that
    // nobody awaits any more is dropped, and everything else goes to the library.
    bool Route(std::string_view message) {
        const std::optional<std::int32_t> messageId = MessageIdOf(message);
        if (messageId && RelaysOwn(*messageId)) {
            if (std::find(sentAhead_.begin(), sentAhead_.end(), *messageId) != sentAhead_.end()) {
                answered_[*messageId] = std::string(message);
            }
            return true;
        }
        return SendAll(client_.Get(), message.data(), message.size(), Clock::now() + timeout_);
    }

    // Routes the whole messages that arrived (fromServer_), message by message: the answers to
    // the relay's own modifies wait for their takes. A message cut short waits for its rest; one
    // whose length cannot be read, or that announces more than a message may hold, ends the
    // connection (not Ok, in words). `routed`, when given, counts the messages routed.
    LdapOutcome RouteWhatArrived(std::size_t* routed = nullptr) {
        std::size_t at = 0;
        LdapOutcome outcome;
        while (true) {
            std::size_t size = 0;
            std::string why;
            const Arrival arrival =
                FirstMessage(std::string_view(fromServer_).substr(at), size, &why);
            if (arrival == Arrival::Refused) {
                outcome = Failure(kLdapDecodingError, UnreadableAnswer(why));
                break;
            }
            if (arrival == Arrival::Partial) {
                break;
            }
            if (!Route(std::string_view(fromServer_).substr(at, size))) {
                outcome = Failure(kLdapServerDown, "Can't contact LDAP server");
                break;
            }
            at += size;
            if (routed != nullptr) {
                ++*routed;
            }
        }
        fromServer_.erase(0, at);
        return outcome;
    }

    bool ToServer(const char* data, std::size_t size, Clock::time_point limit) {
        return session_ ? session_->Send(server_.Get(), data, size, limit)
                        : SendAll(server_.Get(), data, size, limit);
    }

    bool FromServer(const char* data, std::size_t size, std::string& plain) {
        if (!session_) {
            plain.append(data, size);
            return true;
        }
        return session_->Receive(data, size, plain);
    }

    // Appends what the server sends next, waiting until `limit` at most.
    LdapOutcome FromServerWithin(std::string& plain, Clock::time_point limit) {
        if (!WaitFor(server_.Get(), false, limit)) {
            return Lost(LdapOutcome{
                kLdapTimeout,
                "Timed out (no whole answer within " +
                    std::to_string(
                        std::chrono::duration_cast<std::chrono::seconds>(timeout_).count()) +
                    " seconds)"});
        }
        char chunk[65536];
        const int got = recv(server_.Get(), chunk, sizeof chunk, 0);
        if (got <= 0 || !FromServer(chunk, static_cast<std::size_t>(got), plain)) {
            return Lost("Can't contact LDAP server");
        }
        return {};
    }

    // The connection cannot be used any more: closed for the library as well, so that its next
    // request fails as lost instead of reading what was meant for the relay.
    LdapOutcome Lost(LdapOutcome outcome) {
        Close();
        return outcome;
    }
    LdapOutcome Lost(const char* words) { return Lost(Failure(kLdapServerDown, words)); }

    void Close() {
        if (!closed_) {
            closed_ = true;
            shutdown(client_.Get(), SD_BOTH);
            shutdown(server_.Get(), SD_BOTH);
        }
    }

    WinsockUser winsock_;
    Socket server_;
    Socket listener_;
    Socket client_;
    std::unique_ptr<TlsSession> session_;
    unsigned short localPort_;
    unsigned short clientPort_ = 0;
    Clock::duration timeout_;
    std::atomic<bool> stop_{false};
    // Held by the carrier while it moves bytes and by a search the relay runs itself.
    std::mutex io_;
    bool closed_ = false;
    // The relay's own requests count down from the top, far from the library's, which count up.
    static constexpr std::int32_t kFirstRelayId = 0x40000000;
    std::int32_t nextMessageId_ = 0x7fffffff;
    // Modifies the relay sent ahead, oldest first, and the answers that came before their take.
    std::deque<std::int32_t> sentAhead_;
    std::map<std::int32_t, std::string> answered_;
    // What the server sent that is not routed yet (a message not whole yet).
    std::string fromServer_;
    std::thread carrier_;
};

// TLS on the connected `server`, StartTLS first where asked, and the certificate checked.
LdapOutcome SecureConnection(const TlsTunnelEndpoint& endpoint, SOCKET server, HCERTSTORE caStore,
                             std::unique_ptr<TlsSession>& session) {
    const auto limit = Clock::now() + std::chrono::seconds(endpoint.timeoutSeconds);
    if (endpoint.startTls) {
        if (LdapOutcome started = RequestStartTls(server, limit); !started.Ok()) {
            return started;
        }
    }
    session = std::make_unique<TlsSession>();
    if (LdapOutcome shaken = session->Handshake(server, endpoint.host, limit); !shaken.Ok()) {
        return shaken;
    }
    CertPtr cert = session->ServerCertificate();
    if (!cert) {
        return Refused(TlsRefusal::NotTrusted, "the server sent no certificate");
    }
    if (LdapOutcome checked = CheckCertificate(cert.get(), endpoint.host, caStore); !checked.Ok()) {
        return checked;
    }
    return {};
}

}  // namespace

std::unique_ptr<TlsTunnel> OpenTlsTunnel(const TlsTunnelEndpoint& endpoint, LdapOutcome* failure) {
    WinsockUser winsock;
    StorePtr caStore;
    if (!endpoint.caFile.empty()) {
        caStore = LoadCaFile(endpoint.caFile, *failure);
        if (!caStore) {
            return nullptr;
        }
    }
    Socket server;
    if (LdapOutcome connected = ConnectTcp(endpoint, server); !connected.Ok()) {
        *failure = connected;
        return nullptr;
    }
    std::unique_ptr<TlsSession> session;
    if (endpoint.tls) {
        if (LdapOutcome secured = SecureConnection(endpoint, server.Get(), caStore.get(), session);
            !secured.Ok()) {
            *failure = secured;
            return nullptr;
        }
    }
    Socket listener;
    unsigned short port = 0;
    if (!ListenOnLoopback(listener, port)) {
        *failure = Failure(kLdapConnectError,
                           "Can't contact LDAP server (no loopback port for "
                           "the relay)");
        return nullptr;
    }
    return std::make_unique<WinTlsTunnel>(std::move(server), std::move(listener),
                                          std::move(session), port, endpoint.timeoutSeconds);
}

}  // namespace tally::ldap
