// The Windows wire's connection to the directory server: sockets waited on no longer than a
// limit, the TCP connection, StartTLS and the Schannel session (tls_connection_winapi.h).
#include "ldapstore/tls_connection_winapi.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "ldapstore/ldap_protocol.h"

namespace tally::ldap::tls {

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

unsigned short PortOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) {
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    }
    return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
}

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
    std::size_t size = 0;
    std::string why;
    Arrival arrival = Arrival::Partial;
    while ((arrival = FirstMessage(answer, size, &why)) == Arrival::Partial) {
        if (!ReceiveSome(server, answer, limit)) {
            return Failure(kLdapServerDown, "Can't contact LDAP server (no answer to StartTLS)");
        }
    }
    SearchAnswer read;
    if (arrival == Arrival::Refused || !ParseSearchAnswer(answer.substr(0, size), read, &why) ||
        read.kind != SearchAnswer::Kind::Extended) {
        return Failure(
            kLdapConnectError,
            "StartTLS failed: " +
                UnreadableAnswer(why.empty() ? "it is not an extended operation's" : why));
    }
    if (read.resultCode == 0) {
        return {};
    }
    return Failure(read.resultCode, "StartTLS failed: the server refused it (result " +
                                        std::to_string(read.resultCode) + ")" +
                                        (read.diagnostic.empty() ? "" : ": " + read.diagnostic));
}

// ------------------------------------------------------------------------------ the session

LdapOutcome TlsSession::Handshake(SOCKET server, const std::string& host, Clock::time_point limit) {
    if (!credentials_.Acquire()) {
        return Refused(TlsRefusal::Failed, "Schannel is not available");
    }
    const ULONG wanted = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                         ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION;
    bool first = true;
    bool needMore = false;
    for (;;) {
        if (needMore && !ReceiveSome(server, pending_, limit)) {
            return Refused(TlsRefusal::Failed,
                           "the server closed the connection or did not answer during the "
                           "handshake");
        }
        SecBuffer in[2] = {{static_cast<ULONG>(pending_.size()), SECBUFFER_TOKEN, pending_.data()},
                           {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
        SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, out};
        ULONG got = 0;
        SECURITY_STATUS status = InitializeSecurityContextA(
            credentials_.Get(), first ? nullptr : context_.Get(), const_cast<char*>(host.c_str()),
            wanted, 0, 0, first ? nullptr : &inDesc, 0, first ? context_.ForNew() : context_.Get(),
            &outDesc, &got, nullptr);
        if (first) {
            context_.Held();
            first = false;
        }
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            needMore = true;
            continue;
        }
        if (out[0].pvBuffer != nullptr) {
            const bool sent =
                SendAll(server, static_cast<const char*>(out[0].pvBuffer), out[0].cbBuffer, limit);
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
    if (QueryContextAttributesA(context_.Get(), SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK) {
        return Refused(TlsRefusal::Failed, "the connection's sizes cannot be read");
    }
    return {};
}

CertPtr TlsSession::ServerCertificate() {
    const CERT_CONTEXT* cert = nullptr;
    if (QueryContextAttributesA(context_.Get(), SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) !=
        SEC_E_OK) {
        return nullptr;
    }
    return CertPtr(cert);
}

bool TlsSession::Send(SOCKET server, const char* data, std::size_t size, Clock::time_point limit) {
    std::vector<char> record(sizes_.cbHeader + sizes_.cbMaximumMessage + sizes_.cbTrailer);
    while (size > 0) {
        const std::size_t part = std::min<std::size_t>(size, sizes_.cbMaximumMessage);
        std::memcpy(record.data() + sizes_.cbHeader, data, part);
        SecBuffer buffers[4] = {
            {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
            {static_cast<ULONG>(part), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
            {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + part},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        if (EncryptMessage(context_.Get(), 0, &desc, 0) != SEC_E_OK) {
            return false;
        }
        const std::size_t total = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
        if (!SendAll(server, record.data(), total, limit)) {
            return false;
        }
        data += part;
        size -= part;
    }
    return true;
}

bool TlsSession::Receive(const char* data, std::size_t size, std::string& plain) {
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

bool TlsSession::TakeEarlyData(std::string& plain) {
    std::string early;
    early.swap(pending_);
    return Receive(early.data(), early.size(), plain);
}

}  // namespace tally::ldap::tls
