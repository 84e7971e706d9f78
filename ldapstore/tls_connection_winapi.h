// The parts of the Windows wire's connection to the directory server that its files share
// (tls_tunnel.h): sockets waited on no longer than a limit, StartTLS, the Schannel session and
// the check of the server's certificate. Windows only.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

// After <windows.h>, which they need.
#include <wincrypt.h>
#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>

#include "ldapstore/ldap_tls.h"
#include "ldapstore/ldap_wire.h"
#include "ldapstore/tls_tunnel.h"

namespace tally::ldap::tls {

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

struct StoreClose {
    void operator()(void* store) const { CertCloseStore(static_cast<HCERTSTORE>(store), 0); }
};
using StorePtr = std::unique_ptr<void, StoreClose>;

struct CertFree {
    void operator()(const CERT_CONTEXT* cert) const { CertFreeCertificateContext(cert); }
};
using CertPtr = std::unique_ptr<const CERT_CONTEXT, CertFree>;

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

inline LdapOutcome Failure(int code, std::string message) {
    return LdapOutcome{code, std::move(message)};
}

inline LdapOutcome Refused(TlsRefusal refusal, const std::string& detail) {
    return Failure(kLdapTlsRefused, TlsRefusalText(refusal, detail));
}

// ------------------------------------------------------------------------- bounded socket I/O

// Waits until `socket` can be read (or written) or `limit` has passed.
bool WaitFor(SOCKET socket, bool forWriting, Clock::time_point limit);
bool SendAll(SOCKET socket, const char* data, std::size_t size, Clock::time_point limit);
// Appends what arrives to `into`; false when the peer closed, failed or stayed silent too long.
bool ReceiveSome(SOCKET socket, std::string& into, Clock::time_point limit);
// A TCP connection to the endpoint's host and port, made within its Timeout.
LdapOutcome ConnectTcp(const TlsTunnelEndpoint& endpoint, Socket& connected);
// A listening socket on a free loopback port, and that port.
bool ListenOnLoopback(Socket& listener, unsigned short& port);
unsigned short PortOf(const sockaddr_storage& address);

// Asks for StartTLS (RFC 4511, 4.14) before anything else is sent; the answer's result code and
// the server's words.
LdapOutcome RequestStartTls(SOCKET server, Clock::time_point limit);

// ------------------------------------------------------------------- the certificate check

// The store of CACertFile's certificates; null (and `failure` set) when the file is unusable.
StorePtr LoadCaFile(const std::string& file, LdapOutcome& failure);
// The server's certificate checked as a browser checks a web server's: a chain to an authority
// of the system's store or of CACertFile, valid today, for server use, made out to `host`.
LdapOutcome CheckCertificate(const CERT_CONTEXT* cert, const std::string& host, HCERTSTORE caStore);

// ------------------------------------------------------------------------------ the session

class TlsSession {
  public:
    LdapOutcome Handshake(SOCKET server, const std::string& host, Clock::time_point limit);

    CertPtr ServerCertificate();

    // Encrypts `size` bytes into records and sends them.
    bool Send(SOCKET server, const char* data, std::size_t size, Clock::time_point limit);

    // Takes the bytes received from the server and gives back what they decrypt to; false when
    // the server ended the session or sent what cannot be decrypted.
    bool Receive(const char* data, std::size_t size, std::string& plain);

    // Ciphertext that arrived with the end of the handshake.
    bool TakeEarlyData(std::string& plain);

  private:
    Credentials credentials_;
    SecurityContext context_;
    SecPkgContext_StreamSizes sizes_{};
    std::string pending_;  // ciphertext not decrypted yet
};

}  // namespace tally::ldap::tls
