// tallycmd over a directory server whose answers come damaged: a relay in the test passes the
// requests to the scratch slapd and its answers back, each row changing one kind of answer one
// way. An encoding that is valid BER is read as what it says; anything else is refused in
// words, and nothing is recorded or reported that the server does not hold: the log's records
// are the server's balances, a change the answer of which was refused is settled by reading the
// entry again, and no other user is touched. Runs natively and (the Windows wire reads its
// answers itself) under Wine, both under scripts/lib/scratch_slapd.py.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdio>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <regex>
#include <thread>

#include "ldapstore/ldap_protocol.h"
#include "tests/core/directory/ldap_server.h"
#include "tests/core/tools/tallycmd_fixture.h"

namespace tally::tallycmd::testing {
namespace {

using Clock = std::chrono::steady_clock;
using tally::testing::LdapServer;

// ------------------------------------------------------------------------------- sockets

#ifdef _WIN32
using Fd = SOCKET;
constexpr Fd kNoSocket = INVALID_SOCKET;
void CloseFd(Fd fd) {
    closesocket(fd);
}
constexpr int kNoSignal = 0;
#else
using Fd = int;
constexpr Fd kNoSocket = -1;
void CloseFd(Fd fd) {
    close(fd);
}
constexpr int kNoSignal = MSG_NOSIGNAL;
#endif

class Socket {
  public:
    explicit Socket(Fd fd = kNoSocket) : fd_(fd) {}
    Socket(Socket&& other) noexcept : fd_(other.fd_) { other.fd_ = kNoSocket; }
    Socket& operator=(Socket&&) = delete;
    ~Socket() {
        if (fd_ != kNoSocket) {
            CloseFd(fd_);
        }
    }
    Fd Get() const { return fd_; }
    bool Valid() const { return fd_ != kNoSocket; }

  private:
    Fd fd_;
};

// Whether `fd` can be read within `milliseconds`.
bool Readable(Fd fd, int milliseconds) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(fd, &set);
    timeval wait{0, milliseconds * 1000};
    return select(static_cast<int>(fd + 1), &set, nullptr, nullptr, &wait) > 0;
}

bool SendAll(Fd fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const auto sent = send(fd, bytes.data(), static_cast<int>(bytes.size()), kNoSignal);
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

Socket ConnectLoopback(unsigned short port) {
    Socket connected(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (connect(connected.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return Socket();
    }
    return connected;
}

// ---------------------------------------------------------- the test's own BER, for slapd's

struct Element {
    unsigned char tag;
    std::string contents;
};

// The elements of `data`, as slapd writes them (definite lengths, short or long form).
std::vector<Element> Elements(std::string_view data) {
    std::vector<Element> elements;
    while (data.size() >= 2) {
        std::size_t header = 2;
        std::size_t length = static_cast<unsigned char>(data[1]);
        if (length & 0x80) {
            const std::size_t octets = length & 0x7f;
            length = 0;
            for (std::size_t i = 0; i < octets; ++i) {
                length = length << 8 | static_cast<unsigned char>(data[2 + i]);
            }
            header += octets;
        }
        elements.push_back(
            {static_cast<unsigned char>(data[0]), std::string(data.substr(header, length))});
        data.remove_prefix(header + length);
    }
    return elements;
}

// An element with its length in the short form where it fits, or always in the long form of
// four octets (valid BER either way).
std::string Tlv(unsigned char tag, std::string_view contents, bool longForm = false) {
    std::string element(1, static_cast<char>(tag));
    const std::size_t size = contents.size();
    if (size < 0x80 && !longForm) {
        element += static_cast<char>(size);
    } else {
        element += '\x84';
        for (int shift = 24; shift >= 0; shift -= 8) {
            element += static_cast<char>((size >> shift) & 0xff);
        }
    }
    return element + std::string(contents);
}

std::string Joined(const std::vector<Element>& elements) {
    std::string bytes;
    for (const Element& element : elements) {
        bytes += Tlv(element.tag, element.contents);
    }
    return bytes;
}

// Every constructed element of `data` again with its length in the long form.
std::string LongForms(std::string_view data) {
    std::string bytes;
    for (const Element& element : Elements(data)) {
        const bool constructed = (element.tag & 0x20) != 0;
        bytes +=
            Tlv(element.tag, constructed ? LongForms(element.contents) : element.contents, true);
    }
    return bytes;
}

// A message taken apart: its ID, its operation's tag and elements, and its controls.
struct Message {
    std::string id;
    Element operation;
    std::vector<Element> controls;  // each a Control's elements, joined

    explicit Message(const std::string& bytes) {
        const std::vector<Element> parts = Elements(Elements(bytes).front().contents);
        id = parts[0].contents;
        operation = parts[1];
        if (parts.size() > 2) {
            controls = Elements(parts[2].contents);
        }
    }
    std::string Bytes() const {
        std::string body = Tlv(0x02, id) + Tlv(operation.tag, operation.contents);
        if (!controls.empty()) {
            body += Tlv(0xa0, Joined(controls));
        }
        return Tlv(0x30, body);
    }
    // An answer of the kind `tag` (for entries, one whose DN begins with `rdn`).
    bool Is(unsigned char tag, std::string_view rdn) const {
        return operation.tag == tag &&
               (tag != 0x64 || Elements(operation.contents).front().contents.rfind(rdn, 0) == 0);
    }
};

// An entry's attributes, changed by `change` (which gets the list of PartialAttributes).
std::string ChangedEntry(const std::string& entry,
                         const std::function<void(std::vector<Element>&)>& change) {
    std::vector<Element> parts = Elements(entry);
    std::vector<Element> attributes = Elements(parts[1].contents);
    change(attributes);
    parts[1].contents = Joined(attributes);
    return Joined(parts);
}

// A PartialAttribute with its value set made `values`.
void SetValues(Element& attribute, const std::string& values) {
    std::vector<Element> parts = Elements(attribute.contents);
    parts[1].contents = values;
    attribute.contents = Joined(parts);
}

// The attribute `type` of a list of PartialAttributes with its value set made `values`.
void SetValues(std::vector<Element>& attributes, std::string_view type, const std::string& values) {
    for (Element& attribute : attributes) {
        if (Elements(attribute.contents)[0].contents == type) {
            SetValues(attribute, values);
        }
    }
}

// ------------------------------------------------------------------------ the damaging relay

// What the relay sends for one of the server's messages: bytes at once, then (where there are
// any) more bytes a byte a second.
struct Reply {
    std::string bytes;
    std::string trickled;
};
using Damage = std::function<Reply(const std::string& message)>;

// A relay on a loopback port in front of the server: requests pass as they are, each of the
// server's answers (a whole message) passes through `damage`.
class DamagingRelay {
  public:
    DamagingRelay(unsigned short serverPort, Damage damage)
        : serverPort_(serverPort), damage_(std::move(damage)) {
        listener_ = std::make_unique<Socket>(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        EXPECT_EQ(bind(listener_->Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(listener_->Get(), 8), 0);
        getsockname(listener_->Get(), reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { Accept(); });
    }
    ~DamagingRelay() {
        stop_ = true;
        acceptor_.join();
        std::lock_guard<std::mutex> lock(mutex_);
        for (std::thread& connection : connections_) {
            connection.join();
        }
    }
    unsigned short Port() const { return port_; }

  private:
    void Accept() {
        while (!stop_) {
            if (!Readable(listener_->Get(), 100)) {
                continue;
            }
            Socket client(accept(listener_->Get(), nullptr, nullptr));
            Socket server = ConnectLoopback(serverPort_);
            if (!client.Valid() || !server.Valid()) {
                continue;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            connections_.emplace_back(
                [this, c = std::move(client), s = std::move(server)]() mutable {
                    Carry(c.Get(), s.Get());
                });
        }
    }

    void Carry(Fd client, Fd server) {
        std::string fromServer;
        char chunk[65536];
        while (!stop_) {
            if (Readable(client, 0)) {
                const auto got = recv(client, chunk, sizeof chunk, 0);
                if (got <= 0 || !SendAll(server, std::string_view(chunk, got))) {
                    return;
                }
            }
            if (!Readable(server, 20)) {
                continue;
            }
            const auto got = recv(server, chunk, sizeof chunk, 0);
            if (got <= 0) {
                return;
            }
            fromServer.append(chunk, static_cast<std::size_t>(got));
            while (const std::size_t size = ldap::WholeElement(fromServer)) {
                const Reply reply = damage_(fromServer.substr(0, size));
                fromServer.erase(0, size);
                if (!SendAll(client, reply.bytes)) {
                    return;
                }
                if (!reply.trickled.empty()) {
                    Trickle(client, reply.trickled);
                    return;
                }
            }
        }
    }

    // A byte a second, until the client gives up (or the test ends).
    void Trickle(Fd client, std::string_view bytes) {
        for (const char byte : bytes) {
            for (int tick = 0; tick < 10; ++tick) {
                char ignored[4096];
                if (stop_ ||
                    (Readable(client, 100) && recv(client, ignored, sizeof ignored, 0) <= 0)) {
                    return;
                }
            }
            if (!SendAll(client, std::string_view(&byte, 1))) {
                return;
            }
        }
    }

    unsigned short serverPort_;
    Damage damage_;
    std::unique_ptr<Socket> listener_;
    unsigned short port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<std::thread> connections_;
};

// -------------------------------------------------------------------------------- damages

Reply AsSent(const std::string& message) {
    return {message, {}};
}

// Changes the answers of one kind (`tag`, and for entries the RDN their DN begins with).
Damage Answers(unsigned char tag, const std::function<void(Message&)>& change,
               std::string_view rdn = "") {
    return [tag, change, rdn = std::string(rdn)](const std::string& bytes) {
        Message message(bytes);
        if (!message.Is(tag, rdn)) {
            return Reply{bytes, {}};
        }
        change(message);
        return Reply{message.Bytes(), {}};
    };
}

// The result code of an LDAPResult given the octets `code`.
std::function<void(Message&)> ResultCode(std::string code) {
    return [code](Message& message) {
        std::vector<Element> result = Elements(message.operation.contents);
        result[0].contents = code;
        message.operation.contents = Joined(result);
    };
}

// The value of the control `oid` made `value(old value)`.
std::function<void(Message&)> ControlValue(std::string oid,
                                           std::function<std::string(const std::string&)> value) {
    return [oid, value](Message& message) {
        for (Element& control : message.controls) {
            std::vector<Element> parts = Elements(control.contents);
            if (parts[0].contents == oid) {
                parts.back().contents = value(parts.back().contents);
                control.contents = Joined(parts);
            }
        }
    };
}

// Entries of `rdn` with their attributes changed.
Damage EntryAttributes(std::string_view rdn,
                       const std::function<void(std::vector<Element>&)>& change) {
    return Answers(
        0x64,
        [change](Message& message) {
            message.operation.contents = ChangedEntry(message.operation.contents, change);
        },
        rdn);
}

// Answers of one kind announced with `header` (a message's tag and length), their contents then
// sent a byte a second.
Damage Trickled(unsigned char tag, std::string header, std::string_view rdn = "") {
    return [tag, header, rdn = std::string(rdn)](const std::string& bytes) {
        if (!Message(bytes).Is(tag, rdn)) {
            return Reply{bytes, {}};
        }
        const auto length = static_cast<unsigned char>(bytes[1]);
        return Reply{header, bytes.substr(2 + (length & 0x80 ? length & 0x7f : 0))};
    };
}

// ------------------------------------------------------------------------------ the site

constexpr const char* kTree =
    "dn: o=CORP\nobjectClass: organization\no: CORP\n\n"
    "dn: cn=ACCT1,o=CORP\nobjectClass: tallyFileServer\ncn: ACCT1\n\n"
    "dn: ou=SALES,o=CORP\nobjectClass: organizationalUnit\nou: SALES\n\n"
    "dn: cn=JSMITH,ou=SALES,o=CORP\nobjectClass: tallyUser\ncn: JSMITH\nfullName: John Smith\n"
    "accountBalance: 1100\nminimumAccountBalance: 0\n\n"
    "dn: cn=MJONES,ou=SALES,o=CORP\nobjectClass: tallyUser\ncn: MJONES\nfullName: Mary Jones\n"
    "accountBalance: 500\nminimumAccountBalance: 0\n";

unsigned short PortOf(const std::string& url) {
    return static_cast<unsigned short>(std::stoi(url.substr(url.rfind(':') + 1)));
}

// A user's balance as the server holds it, in cents ("?" when it cannot be read).
std::string Balance(const LdapServer& server, const std::string& dn) {
    auto wire = server.Admin();
    std::string balance = "?";
    if (wire) {
        wire->Search(dn, ldap::LdapScope::Base, "(objectClass=*)", {"accountBalance"}, 0,
                     [&](ldap::LdapEntry&& entry) {
                         for (const auto& [type, values] : entry.attributes) {
                             if (type == "accountBalance" && values.size() == 1) {
                                 balance = values.front();
                             }
                         }
                     });
    }
    return balance;
}

// "1600" as tallycmd and the log write it: "16.00".
std::string Amount(const std::string& cents) {
    const bool negative = !cents.empty() && cents.front() == '-';
    std::string digits = cents.substr(negative ? 1 : 0);
    digits.insert(0, digits.size() < 3 ? 3 - digits.size() : 0, '0');
    return (negative ? "-" : "") + digits.substr(0, digits.size() - 2) + "." +
           digits.substr(digits.size() - 2);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

struct Case {
    const char* name;
    Damage damage;
    std::vector<std::string> command;
    int code;
    std::size_t records;  // records in the log afterwards
    const char* balance;  // JSMITH's on the server afterwards (MJONES's stays 500)
    const char* words;    // on standard error ("" when nothing is refused)
};

TEST(DamagedAnswers, AreReadByTheRulesOrRefusedAndNothingIsRecordedWrong) {
    const LdapServer server = LdapServer::FromEnvironment();
    if (!server.Available()) {
        GTEST_SKIP() << "no scratch slapd (TALLY_LDAP_URL is not set)";
    }
#ifdef _WIN32
    WSADATA winsock;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &winsock), 0);
#endif
    const std::string postRead = ldap::kPostReadControl;
    const std::string paged = ldap::kPagedResultsControl;
    const std::vector<std::string> deposit = {"deposit", "5", "JSMITH"};
    const std::vector<std::string> show = {"show", "JSMITH"};
    const std::vector<std::string> context = {"deposit", "5", "--context", "SALES.CORP"};
    // An OCTET STRING that announces 127 bytes and holds one.
    const std::string junk = "\x04\x7f\x01";
    const std::vector<Case> cases = {
        {"as the server sent them", AsSent, deposit, 0, 1, "1600", ""},
        {"every length in the long form",
         [](const std::string& m) {
             return Reply{LongForms(m), {}};
         },
         deposit, 0, 1, "1600", ""},
        {"a modify's result code in five octets",
         Answers(0x67, ResultCode(std::string(4, '\0') + '\0')), deposit, 0, 1, "1600", ""},
        {"the Post-Read value set {\"4242\", junk}",
         Answers(0x67, ControlValue(postRead,
                                    [&](const std::string& entry) {
                                        return Tlv(
                                            0x64,
                                            ChangedEntry(Elements(entry).front().contents,
                                                         [&](std::vector<Element>& attributes) {
                                                             SetValues(attributes, "accountBalance",
                                                                       Tlv(0x04, "4242") + junk);
                                                         }));
                                    })),
         deposit, 0, 1, "1600", ""},
        {"a negative result code", Answers(0x67, ResultCode("\xfc\x17")), deposit, 0, 1, "1600",
         ""},
        {"an entry's first attribute unreadable",
         EntryAttributes("cn=JSMITH",
                         [&](std::vector<Element>& attributes) {
                             SetValues(attributes.front(), Tlv(0x04, "top") + junk);
                         }),
         show, 2, 0, "1100", "cannot be read"},
        {"the same in a context's listing",
         EntryAttributes("cn=JSMITH",
                         [&](std::vector<Element>& attributes) {
                             SetValues(attributes.front(), Tlv(0x04, "top") + junk);
                         }),
         context, 1, 0, "1100", "cannot be read"},
        {"an attribute sent twice",
         EntryAttributes("cn=JSMITH",
                         [](std::vector<Element>& attributes) {
                             attributes.push_back({0x30, Tlv(0x04, "accountBalance") +
                                                             Tlv(0x31, Tlv(0x04, "4242"))});
                         }),
         show, 2, 0, "1100", "sent twice"},
        {"a listing's page cookie unreadable",
         Answers(0x65, ControlValue(paged, [&](const std::string&) { return junk; })), context, 1,
         0, "1100", "cannot be read"},
        {"an entry announcing 2 GB, then a byte a second",
         Trickled(0x64, "\x30\x84\x7f\xff\xff\xff", "cn=JSMITH"), show, 2, 0, "1100", ""},
        {"an entry announcing 200 bytes, then a byte a second",
         Trickled(0x64, "\x30\x81\xc8", "cn=JSMITH"), show, 2, 0, "1100", ""},
        {"a modify's answer a byte a second", Trickled(0x67, "\x30\x81\xc8"), deposit, 0, 1, "1600",
         ""},
    };
    TempFolder folder("damaged-answers");
    const fs::path settings = folder.Path() / "tallydsk.ini";
    WriteBytes(settings, "");
    const fs::path volume = folder.Path() / "servers/ACCT1/SYS";
    fs::create_directories(volume / "PUBLIC");
    fs::create_directories(volume / "SYSTEM/JOBTALLY");
    WriteBytes(volume / "PUBLIC/JOBTALLY.INI",
               "[Preferences]\r\nNumericalFormat=0\r\nLogFormat=1\r\n"
               "SchemaKeyword=Standard Netware\r\n");
    const fs::path log = volume / "SYSTEM/JOBTALLY/JOBTALLY.LOG";
    int row = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string base =
            server.LoadTree("damaged-" + std::to_string(++row) + "-" +
                                std::to_string(Clock::now().time_since_epoch().count() % 100000),
                            kTree);
        ASSERT_FALSE(base.empty());
        DamagingRelay relay(PortOf(server.url), c.damage);
        const fs::path ini = folder.Path() / "tallynet.ini";
        WriteBytes(ini, "[Store]\nKind=ldap\nUrl=ldap://127.0.0.1:" + std::to_string(relay.Port()) +
                            "\nBase=" + base + "\nBindDN=" + server.operatorDn +
                            "\nPasswordFile=" + server.passwordFile +
                            "\nTimeout=2\nRetrySeconds=2\n\n[Login]\nContext=SALES.CORP\n\n"
                            "[Connections]\nDefault=ACCT1\nServers=ACCT1\n\n"
                            "[Volumes]\nACCT1=servers/ACCT1\n");
        WriteBytes(log, "");
        std::vector<std::string> words = {"--ini", ini.string(), "--settings", settings.string()};
        words.insert(words.end(), c.command.begin(), c.command.end());
        const Clock::time_point started = Clock::now();
        const CmdResult result = RunCmd(words);
        const auto seconds =
            std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started).count();
        SCOPED_TRACE("stdout: " + result.out + "\nstderr: " + result.err);
        std::printf("%s: exit %d after %lld s; %s", c.name, result.code,
                    static_cast<long long>(seconds),
                    result.err.empty() ? "\n" : result.err.c_str());

        EXPECT_EQ(result.code, c.code);
        // The Timeout (2 s) bounds every read; the retries of a lost connection, RetrySeconds.
        EXPECT_LE(seconds, 20);
        const std::string balance = Balance(server, "cn=JSMITH,ou=SALES,o=CORP," + base);
        EXPECT_EQ(balance, c.balance);
        EXPECT_EQ(Balance(server, "cn=MJONES,ou=SALES,o=CORP," + base), "500");
        const std::vector<std::string> records = Lines(ReadBytes(log));
        EXPECT_EQ(records.size(), c.records);
        for (const std::string& record : records) {
            EXPECT_NE(record.find("\"JSMITH.SALES.CORP\""), std::string::npos) << record;
            EXPECT_EQ(record.substr(record.rfind(',') + 1), Amount(balance) + "\r") << record;
        }
        // Whatever balance tallycmd reports is the server's.
        const std::regex reported("balance (-?[0-9]+\\.[0-9]+)");
        for (std::sregex_iterator found(result.out.begin(), result.out.end(), reported), end;
             found != end; ++found) {
            EXPECT_EQ((*found)[1].str(), Amount(balance));
        }
        if (c.code != 0) {
            EXPECT_FALSE(result.err.empty());
        }
        EXPECT_NE(result.err.find(c.words), std::string::npos);
    }
#ifdef _WIN32
    WSACleanup();
#endif
}

}  // namespace
}  // namespace tally::tallycmd::testing
