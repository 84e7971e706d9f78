// TLS to the directory server over Schannel, the certificate checked with the system's chain
// engine (tls_certificate_winapi.h), and the thread that carries wldap32's plain LDAP over it, or
// over a plain connection (tls_tunnel.h); and the searches the relay runs itself on that
// connection.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

// After <windows.h>, which they need.
#include <wincrypt.h>
#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>
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
#include "ldapstore/ldap_tls.h"
#include "ldapstore/tls_certificate_winapi.h"
#include "ldapstore/tls_tunnel.h"

namespace tally::ldap {
namespace {

using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------------------------- handles

class Socket {
  public:
    Socket() = default;
    explicit Socket(SOCKET s) : s_(s) {}
    Socket(Socket&& other) noexcept : s_(std::exchange(other.s_, INVALID_SOCKET)) {}
    Socket& operator=(Socket&& other) noexcept {
        Reset(std::exchange(other.s_, INVALID_SOCKET));
        return *this;
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() { Reset(); }
    SOCKET Get() const { return s_; }
    bool Valid() const { return s_ != INVALID_SOCKET; }
    void Reset(SOCKET s = INVALID_SOCKET) {
        if (s_ != INVALID_SOCKET) {
            closesocket(s_);
        }
        s_ = s;
    }

  private:
    SOCKET s_ = INVALID_SOCKET;
};

struct WinsockUser {
    WinsockUser() {
        WSADATA data{};
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockUser() {
        if (started) {
            WSACleanup();
        }
    }
    WinsockUser(const WinsockUser&) = delete;
    WinsockUser& operator=(const WinsockUser&) = delete;
    bool started = false;
};

class Credentials {
  public:
    ~Credentials() {
        if (held_) {
            FreeCredentialsHandle(&handle_);
        }
    }
    bool Acquire() {
        SCHANNEL_CRED settings{};
        settings.dwVersion = SCHANNEL_CRED_VERSION;
        // The certificate is checked here, after the handshake, against CACertFile as well.
        settings.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
        // TLS 1.2: Schannel hands TLS 1.3's messages after the handshake (session tickets)
        // back to the caller as renegotiations, which the tunnel does not carry out.
        settings.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        held_ = AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A),
                                          SECPKG_CRED_OUTBOUND, nullptr, &settings, nullptr,
                                          nullptr, &handle_, nullptr) == SEC_E_OK;
        return held_;
    }
    CredHandle* Get() { return &handle_; }

  private:
    CredHandle handle_{};
    bool held_ = false;
};

class SecurityContext {
  public:
    ~SecurityContext() {
        if (held_) {
            DeleteSecurityContext(&handle_);
        }
    }
    CtxtHandle* Get() { return held_ ? &handle_ : nullptr; }
    CtxtHandle* ForNew() { return &handle_; }
    void Held() { held_ = true; }

  private:
    CtxtHandle handle_{};
    bool held_ = false;
};

LdapOutcome Failure(int code, std::string message) {
    return LdapOutcome{code, std::move(message)};
}

LdapOutcome Refused(TlsRefusal refusal, const std::string& detail) {
    return Failure(kLdapTlsRefused, TlsRefusalText(refusal, detail));
}

// ------------------------------------------------------------------------- bounded socket I/O

// Waits until `socket` can be read (or written) or `limit` has passed.
bool WaitFor(SOCKET socket, bool forWriting, Clock::time_point limit) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(limit - Clock::now());
    if (left.count() <= 0) {
        return false;
    }
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    timeval wait{static_cast<long>(left.count() / 1000000),
                 static_cast<long>(left.count() % 1000000)};
    return select(0, forWriting ? nullptr : &set, forWriting ? &set : nullptr, nullptr, &wait) > 0;
}

bool SendAll(SOCKET socket, const char* data, std::size_t size, Clock::time_point limit) {
    while (size > 0) {
        if (!WaitFor(socket, true, limit)) {
            return false;
        }
        const int sent =
            send(socket, data, static_cast<int>(std::min<std::size_t>(size, 1 << 20)), 0);
        if (sent <= 0) {
            return false;
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

// Appends what arrives to `into`; false when the peer closed, failed or stayed silent too long.
bool ReceiveSome(SOCKET socket, std::string& into, Clock::time_point limit) {
    if (!WaitFor(socket, false, limit)) {
        return false;
    }
    char chunk[16384];
    const int got = recv(socket, chunk, sizeof chunk, 0);
    if (got <= 0) {
        return false;
    }
    into.append(chunk, static_cast<std::size_t>(got));
    return true;
}

LdapOutcome ConnectTcp(const TlsTunnelEndpoint& endpoint, Socket& connected) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(endpoint.port);
    if (getaddrinfo(endpoint.host.c_str(), port.c_str(), &hints, &found) != 0 || found == nullptr) {
        return Failure(kLdapConnectError, "Can't contact LDAP server (" + endpoint.host +
                                              " is not a known host name)");
    }
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, freeaddrinfo);
    const auto limit = Clock::now() + std::chrono::seconds(endpoint.timeoutSeconds);
    for (addrinfo* at = found; at != nullptr; at = at->ai_next) {
        Socket s(socket(at->ai_family, at->ai_socktype, at->ai_protocol));
        if (!s.Valid()) {
            continue;
        }
        u_long nonBlocking = 1;
        ioctlsocket(s.Get(), FIONBIO, &nonBlocking);
        if (connect(s.Get(), at->ai_addr, static_cast<int>(at->ai_addrlen)) != 0 &&
            WSAGetLastError() != WSAEWOULDBLOCK) {
            continue;
        }
        if (!WaitFor(s.Get(), true, limit)) {
            continue;
        }
        int error = 0;
        int length = sizeof error;
        getsockopt(s.Get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
        if (error != 0) {
            continue;
        }
        nonBlocking = 0;
        ioctlsocket(s.Get(), FIONBIO, &nonBlocking);
        connected = std::move(s);
        return {};
    }
    return Failure(kLdapServerDown, "Can't contact LDAP server");
}

// ------------------------------------------------------------------------------- StartTLS

// Asks for StartTLS (RFC 4511, 4.14) before anything else is sent; the answer's result code and
// the server's words.
LdapOutcome RequestStartTls(SOCKET server, Clock::time_point limit) {
    static const char kOid[] = "1.3.6.1.4.1.1466.20037";
    std::string request = {0x30, 0x1d, 0x02, 0x01, 0x01, 0x77, 0x18, static_cast<char>(0x80), 0x16};
    request += kOid;
    std::string answer;
    if (!SendAll(server, request.data(), request.size(), limit)) {
        return Failure(kLdapServerDown, "Can't contact LDAP server");
    }
    while (WholeElement(answer) == 0) {
        if (!ReceiveSome(server, answer, limit)) {
            return Failure(kLdapServerDown, "Can't contact LDAP server (no answer to StartTLS)");
        }
    }
    std::string_view message(answer), body, id, response, code;
    unsigned char tag = 0;
    if (!ReadElement(message, tag, body) || tag != 0x30 || !ReadElement(body, tag, id) ||
        !ReadElement(body, tag, response) || tag != 0x78 || !ReadElement(response, tag, code) ||
        tag != 0x0a || code.size() != 1) {
        return Failure(kLdapConnectError, "StartTLS failed: the server's answer cannot be read");
    }
    const int result = static_cast<unsigned char>(code[0]);
    if (result == 0) {
        return {};
    }
    std::string_view matched, words;
    ReadElement(response, tag, matched);
    ReadElement(response, tag, words);
    return Failure(result, "StartTLS failed: the server refused it (result " +
                               std::to_string(result) + ")" +
                               (words.empty() ? "" : ": " + std::string(words)));
}

// ------------------------------------------------------------------------------ the session

class TlsSession {
  public:
    LdapOutcome Handshake(SOCKET server, const std::string& host, Clock::time_point limit) {
        if (!credentials_.Acquire()) {
            return Refused(TlsRefusal::Failed, "Schannel is not available");
        }
        const ULONG wanted = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                             ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                             ISC_REQ_MANUAL_CRED_VALIDATION;
        bool first = true;
        bool needMore = false;
        for (;;) {
            if (needMore && !ReceiveSome(server, pending_, limit)) {
                return Refused(TlsRefusal::Failed,
                               "the server closed the connection or did not answer during the "
                               "handshake");
            }
            SecBuffer in[2] = {
                {static_cast<ULONG>(pending_.size()), SECBUFFER_TOKEN, pending_.data()},
                {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
            SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
            SecBufferDesc outDesc{SECBUFFER_VERSION, 1, out};
            ULONG got = 0;
            SECURITY_STATUS status = InitializeSecurityContextA(
                credentials_.Get(), first ? nullptr : context_.Get(),
                const_cast<char*>(host.c_str()), wanted, 0, 0, first ? nullptr : &inDesc, 0,
                first ? context_.ForNew() : context_.Get(), &outDesc, &got, nullptr);
            if (first) {
                context_.Held();
                first = false;
            }
            if (status == SEC_E_INCOMPLETE_MESSAGE) {
                needMore = true;
                continue;
            }
            if (out[0].pvBuffer != nullptr) {
                const bool sent = SendAll(server, static_cast<const char*>(out[0].pvBuffer),
                                          out[0].cbBuffer, limit);
                FreeContextBuffer(out[0].pvBuffer);
                if (!sent) {
                    return Refused(TlsRefusal::Failed, "the handshake could not be sent");
                }
            }
            if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) {
                char words[64];
                std::snprintf(words, sizeof words, "Schannel error 0x%08lx",
                              static_cast<unsigned long>(status));
                return Refused(TlsRefusal::Failed, words);
            }
            if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0) {
                pending_.erase(0, pending_.size() - in[1].cbBuffer);
            } else if (!pending_.empty()) {
                pending_.clear();
            }
            if (status == SEC_E_OK) {
                break;
            }
            needMore = pending_.empty();
        }
        if (QueryContextAttributesA(context_.Get(), SECPKG_ATTR_STREAM_SIZES, &sizes_) !=
            SEC_E_OK) {
            return Refused(TlsRefusal::Failed, "the connection's sizes cannot be read");
        }
        return {};
    }

    CertPtr ServerCertificate() {
        const CERT_CONTEXT* cert = nullptr;
        if (QueryContextAttributesA(context_.Get(), SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) !=
            SEC_E_OK) {
            return nullptr;
        }
        return CertPtr(cert);
    }

    // Encrypts `size` bytes into records and sends them.
    bool Send(SOCKET server, const char* data, std::size_t size, Clock::time_point limit) {
        std::vector<char> record(sizes_.cbHeader + sizes_.cbMaximumMessage + sizes_.cbTrailer);
        while (size > 0) {
            const std::size_t part = std::min<std::size_t>(size, sizes_.cbMaximumMessage);
            std::memcpy(record.data() + sizes_.cbHeader, data, part);
            SecBuffer buffers[4] = {
                {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                {static_cast<ULONG>(part), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
                {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER,
                 record.data() + sizes_.cbHeader + part},
                {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
            if (EncryptMessage(context_.Get(), 0, &desc, 0) != SEC_E_OK) {
                return false;
            }
            const std::size_t total =
                buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
            if (!SendAll(server, record.data(), total, limit)) {
                return false;
            }
            data += part;
            size -= part;
        }
        return true;
    }

    // Takes the bytes received from the server and gives back what they decrypt to; false when
    // the server ended the session or sent what cannot be decrypted.
    bool Receive(const char* data, std::size_t size, std::string& plain) {
        pending_.append(data, size);
        while (!pending_.empty()) {
            SecBuffer buffers[4] = {
                {static_cast<ULONG>(pending_.size()), SECBUFFER_DATA, pending_.data()},
                {0, SECBUFFER_EMPTY, nullptr},
                {0, SECBUFFER_EMPTY, nullptr},
                {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
            SECURITY_STATUS status = DecryptMessage(context_.Get(), &desc, 0, nullptr);
            if (status == SEC_E_INCOMPLETE_MESSAGE) {
                return true;
            }
            if (status != SEC_E_OK) {
                return false;  // closed (SEC_I_CONTEXT_EXPIRED), renegotiation, or garbage
            }
            std::string extra;
            for (const SecBuffer& buffer : buffers) {
                if (buffer.BufferType == SECBUFFER_DATA) {
                    plain.append(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
                } else if (buffer.BufferType == SECBUFFER_EXTRA) {
                    extra.assign(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
                }
            }
            pending_.swap(extra);
        }
        return true;
    }

    // Ciphertext that arrived with the end of the handshake.
    bool TakeEarlyData(std::string& plain) {
        std::string early;
        early.swap(pending_);
        return Receive(early.data(), early.size(), plain);
    }

  private:
    Credentials credentials_;
    SecurityContext context_;
    SecPkgContext_StreamSizes sizes_{};
    std::string pending_;  // ciphertext not decrypted yet
};

// --------------------------------------------------------------------------------- the tunnel

unsigned short PortOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) {
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    }
    return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
}

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
        std::string incoming = std::move(fromServer_);
        fromServer_.clear();
        std::size_t at = 0;
        while (true) {
            const std::size_t size = WholeElement(std::string_view(incoming).substr(at));
            if (size == 0) {
                incoming.erase(0, at);
                at = 0;
                if (const LdapOutcome got = FromServerWithin(incoming); !got.Ok()) {
                    return got;
                }
                continue;
            }
            const std::string_view message = std::string_view(incoming).substr(at, size);
            at += size;
            SearchAnswer answer;
            if (!ParseSearchAnswer(message, answer)) {
                return Lost("Can't contact LDAP server (the server's answer cannot be read)");
            }
            if (answer.messageId != messageId) {
                // A modify of the relay's own waits for its take; anything else is the
                // library's (the late answer to a request it gave up on).
                if (!Route(message)) {
                    return Lost("Can't contact LDAP server");
                }
            } else if (answer.kind == SearchAnswer::Kind::Entry) {
                entries.push_back(std::move(answer.entry));
            } else if (answer.kind == SearchAnswer::Kind::Done) {
                done = std::move(answer);
                break;
            }
        }
        // Whatever followed is read on as the carrier reads (the answers to modifies sent
        // ahead may be among it), or belongs to the library when none are awaited.
        fromServer_.assign(std::string_view(incoming).substr(at));
        if (!RouteWhatArrived()) {
            return Lost("Can't contact LDAP server");
        }
        return {};
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
        while (answered_.count(messageId) == 0) {
            if (closed_) {
                sentAhead_.pop_front();
                return Failure(kLdapServerDown, "Can't contact LDAP server");
            }
            if (const LdapOutcome got = FromServerWithin(fromServer_); !got.Ok()) {
                sentAhead_.pop_front();
                return got;
            }
            if (!RouteWhatArrived()) {
                sentAhead_.pop_front();
                return Lost("Can't contact LDAP server");
            }
        }
        sentAhead_.pop_front();
        const std::string message = std::move(answered_[messageId]);
        answered_.erase(messageId);
        if (!ParseSearchAnswer(message, answer) || answer.kind != SearchAnswer::Kind::Modified) {
            return Lost("Can't contact LDAP server (the server's answer cannot be read)");
        }
        return {};
    }

    LdapOutcome RunBind(const std::string& dn, std::string_view password,
                        BindAnswer& answer) override {
        const std::int32_t messageId = nextMessageId_--;
        std::vector<char> request;
        EncodeSimpleBind(messageId, dn, password, request);
        std::lock_guard<std::mutex> lock(io_);
        const bool sent = !closed_ && client_.Valid() &&
                          ToServer(request.data(), request.size(), Clock::now() + timeout_);
        SecureZeroMemory(request.data(), request.size());
        if (closed_ || !client_.Valid()) {
            return Failure(kLdapServerDown, "Can't contact LDAP server");
        }
        if (!sent) {
            return Lost("Can't contact LDAP server");
        }
        while (true) {
            const std::size_t size = WholeElement(fromServer_);
            if (size == 0) {
                if (const LdapOutcome got = FromServerWithin(fromServer_); !got.Ok()) {
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
                return Lost("Can't contact LDAP server (the server's answer cannot be read)");
            }
            break;
        }
        if (!RouteWhatArrived()) {
            return Lost("Can't contact LDAP server");
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
        std::string early;
        return session_->TakeEarlyData(early) &&
               (early.empty() ||
                SendAll(client_.Get(), early.data(), early.size(), Clock::now() + timeout_));
    }

    // Carries bytes both ways until either side closes or the server leaves a request
    // unanswered for the Timeout; then both sockets close, and the library's call in
    // progress fails as with a lost connection instead of waiting for ever. A search the relay
    // runs itself holds the connection meanwhile and may take what select saw arrive, so the
    // sockets are asked again once the connection is held.
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
                awaitingServer = false;
                // While modifies of the relay's own are on their way, what the server sends is
                // read message by message: their answers wait for their takes.
                fromServer_ += plain;
                if (!RouteWhatArrived()) {
                    break;
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

    // Routes the whole messages that arrived (fromServer_). With no modify of the relay's own
    // on its way the bytes go to the library as they are, a message cut short included.
    bool RouteWhatArrived() {
        if (sentAhead_.empty()) {
            const std::string bytes = std::move(fromServer_);
            fromServer_.clear();
            return bytes.empty() ||
                   SendAll(client_.Get(), bytes.data(), bytes.size(), Clock::now() + timeout_);
        }
        std::size_t at = 0;
        while (const std::size_t size = WholeElement(std::string_view(fromServer_).substr(at))) {
            if (!Route(std::string_view(fromServer_).substr(at, size))) {
                return false;
            }
            at += size;
        }
        fromServer_.erase(0, at);
        return true;
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

    // Appends what the server sends next, waiting the Timeout at most.
    LdapOutcome FromServerWithin(std::string& plain) {
        if (!WaitFor(server_.Get(), false, Clock::now() + timeout_)) {
            return Lost(LdapOutcome{
                kLdapTimeout,
                "Timed out (no answer within " +
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

bool ListenOnLoopback(Socket& listener, unsigned short& port) {
    Socket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!s.Valid()) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof address;
    if (bind(s.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(s.Get(), 1) != 0 ||
        getsockname(s.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return false;
    }
    port = ntohs(address.sin_port);
    listener = std::move(s);
    return true;
}

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
