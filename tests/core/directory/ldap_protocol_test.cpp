// The search messages the program writes and reads itself (the Windows wire's relay): asked of
// the real server over a bare socket, they must find what the LDAP library finds; filters that
// cannot be read are refused naming the place; answers cut short or damaged are never taken
// for whole ones. The server's cases run under scripts/lib/scratch_slapd.py.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ldap_server.h"
#include "ldapstore/ldap_protocol.h"

#ifndef _WIN32
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace tally::testing {
namespace {

using ldap::LdapEntry;
using ldap::LdapScope;
using ldap::SearchAnswer;

// An entry with its attribute names in lower case and everything sorted, for comparing.
std::string Described(LdapEntry entry) {
    for (auto& [name, values] : entry.attributes) {
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        std::sort(values.begin(), values.end());
    }
    std::sort(entry.attributes.begin(), entry.attributes.end());
    std::string text = entry.dn;
    for (const auto& [name, values] : entry.attributes) {
        text += "|" + name + "=";
        for (const std::string& value : values) {
            text += value + ";";
        }
    }
    return text;
}

#ifndef _WIN32
// A bare LDAP connection: requests written as bytes, answers read as whole messages.
class BareConnection {
  public:
    explicit BareConnection(const std::string& url) {
        const std::string hostPort = url.substr(url.find("//") + 2);
        const std::string host = hostPort.substr(0, hostPort.rfind(':'));
        const std::string port = hostPort.substr(hostPort.rfind(':') + 1);
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) {
            return;
        }
        fd_ = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
        if (fd_ >= 0 && connect(fd_, found->ai_addr, found->ai_addrlen) != 0) {
            close(fd_);
            fd_ = -1;
        }
        freeaddrinfo(found);
    }
    ~BareConnection() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    bool Ok() const { return fd_ >= 0; }

    bool Send(const std::string& bytes) {
        return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // The next whole message, "" when the connection ended first.
    std::string Next() {
        while (ldap::WholeElement(buffer_) == 0) {
            char chunk[65536];
            const ssize_t got = recv(fd_, chunk, sizeof chunk, 0);
            if (got <= 0) {
                return {};
            }
            buffer_.append(chunk, static_cast<std::size_t>(got));
        }
        const std::size_t size = ldap::WholeElement(buffer_);
        std::string message = buffer_.substr(0, size);
        buffer_.erase(0, size);
        return message;
    }

  private:
    int fd_ = -1;
    std::string buffer_;
};

// A simple bind (RFC 4511, 4.2) written out by hand: the test's own, not the program's.
std::string BindRequest(const std::string& dn, const std::string& password) {
    auto tlv = [](char tag, const std::string& contents) {
        EXPECT_LT(contents.size(), 128u);
        return std::string(1, tag) + static_cast<char>(contents.size()) + contents;
    };
    return tlv(0x30, tlv(0x02, "\x01") +
                         tlv(0x60, tlv(0x02, "\x03") + tlv(0x04, dn) + tlv('\x80', password)));
}

struct Query {
    const char* base;  // below the tree's own entry; "" for the entry itself
    LdapScope scope;
    const char* filter;
    std::vector<std::string> attributes;
    std::uint32_t pageSize;
};

TEST(LdapProtocolTest, SearchesFindWhatTheLibraryFinds) {
    const LdapServer server = LdapServer::FromEnvironment();
    if (!server.Available()) {
        GTEST_SKIP() << "no scratch slapd (TALLY_LDAP_URL is not set)";
    }
    std::string ldif;
    for (int i = 0; i < 23; ++i) {
        const std::string n = (i < 10 ? "0" : "") + std::to_string(i);
        ldif += "dn: cn=U" + n + "\nobjectClass: person\ncn: U" + n + "\nsn: S" + n +
                (i % 3 == 0 ? "*star" : "") + "\ndescription: " + (i % 2 ? "odd" : "even") + " (" +
                n + ")\n\n";
    }
    const std::string base = server.LoadTree("ProtocolTest", ldif);
    const Query queries[] = {
        {"", LdapScope::OneLevel, "(objectClass=*)", {}, 0},
        {"", LdapScope::OneLevel, "(objectClass=person)", {"cn", "sn"}, 5},
        {"", LdapScope::Subtree, "(|(cn=U01)(cn=u07)(cn=U99)(sn=S12))", {"cn"}, 0},
        {"", LdapScope::Subtree, "(&(objectClass=person)(!(description=odd*)))", {"1.1"}, 4},
        {"", LdapScope::OneLevel, "(sn=*\\2astar)", {"sn"}, 0},
        {"", LdapScope::OneLevel, "(description=*\\281*)", {"description"}, 0},
        {"", LdapScope::OneLevel, "(&(cn>=U10)(cn<=U13))", {"cn"}, 0},
        {"", LdapScope::OneLevel, "(cn~=U05)", {"cn"}, 0},
        {"cn=U04", LdapScope::Base, "objectClass=*", {"objectClass", "cn"}, 0},
    };
    auto library = server.Admin();
    ASSERT_TRUE(library);
    BareConnection bare(server.url);
    ASSERT_TRUE(bare.Ok());
    ASSERT_TRUE(bare.Send(BindRequest(server.adminDn, server.Password())));
    SearchAnswer bound;
    ASSERT_TRUE(ldap::ParseSearchAnswer(bare.Next(), bound));

    std::int32_t messageId = 100;
    for (const Query& query : queries) {
        SCOPED_TRACE(query.filter);
        const std::string queryBase =
            std::string(query.base).empty() ? base : std::string(query.base) + "," + base;
        std::vector<std::string> expected;
        const ldap::LdapOutcome listed = library->Search(
            queryBase, query.scope, query.filter, query.attributes, query.pageSize,
            [&](LdapEntry&& entry) { expected.push_back(Described(std::move(entry))); });
        ASSERT_TRUE(listed.Ok()) << listed.message;

        ldap::SearchRequest request{queryBase,      query.scope, query.filter, query.attributes, 10,
                                    query.pageSize, {}};
        std::vector<std::string> found;
        int pages = 0;
        while (true) {
            std::string problem;
            const auto encoded = ldap::EncodeSearchRequest(++messageId, request, &problem);
            ASSERT_TRUE(encoded) << problem;
            ASSERT_TRUE(bare.Send(*encoded));
            SearchAnswer answer;
            do {
                const std::string message = bare.Next();
                ASSERT_FALSE(message.empty());
                ASSERT_TRUE(ldap::ParseSearchAnswer(message, answer));
                EXPECT_EQ(answer.messageId, messageId);
                if (answer.kind == SearchAnswer::Kind::Entry) {
                    found.push_back(Described(answer.entry));
                }
            } while (answer.kind != SearchAnswer::Kind::Done);
            ASSERT_EQ(answer.resultCode, 0) << answer.diagnostic;
            ++pages;
            if (query.pageSize == 0 || !answer.pageCookie || answer.pageCookie->empty()) {
                break;
            }
            request.cookie = *answer.pageCookie;
        }
        EXPECT_EQ(found, expected);
        // (cn has no ordering rule: >= and <= find nothing, but the server took the filter.)
        EXPECT_TRUE(!found.empty() || std::string(query.filter).find(">=") != std::string::npos);
        if (query.pageSize > 0) {
            EXPECT_EQ(pages,
                      std::max<int>(1, (found.size() + query.pageSize - 1) / query.pageSize));
        }
    }
}
// Modifies sent ahead of their answers on one connection: each answer names its request and
// carries the sum its own increment left (the Post-Read control), a refused one says why. The
// server may answer them in any order.
TEST(LdapProtocolTest, ModifiesSentAheadAnswerWithWhatEachLeft) {
    const LdapServer server = LdapServer::FromEnvironment();
    if (!server.Available()) {
        GTEST_SKIP() << "no scratch slapd (TALLY_LDAP_URL is not set)";
    }
    const std::string base = server.LoadTree(
        "ProtocolModify", "dn: cn=A\nobjectClass: tallyUser\ncn: A\naccountBalance: 10\n");
    BareConnection bare(server.url);
    ASSERT_TRUE(bare.Ok());
    ASSERT_TRUE(bare.Send(BindRequest(server.adminDn, server.Password())));
    SearchAnswer answer;
    ASSERT_TRUE(ldap::ParseSearchAnswer(bare.Next(), answer));
    const std::map<std::int32_t, std::pair<std::string, std::string>> changes = {
        {0x7ffffff0, {"cn=A", "1"}},
        {0x7fffffef, {"cn=A", "2"}},
        {0x7fffffee, {"cn=NOBODY", "5"}},
        {0x7fffffed, {"cn=A", "-3"}},
    };
    for (auto change = changes.rbegin(); change != changes.rend(); ++change) {
        ASSERT_TRUE(bare.Send(ldap::EncodeModifyRequest(
            change->first, change->second.first + "," + base,
            {{ldap::LdapModOp::Increment, "accountBalance", {change->second.second}}},
            {"accountBalance"})));
    }
    std::map<std::int32_t, std::string> answered;
    std::set<std::string> sums;
    for (std::size_t i = 0; i < changes.size(); ++i) {
        ASSERT_TRUE(ldap::ParseSearchAnswer(bare.Next(), answer));
        EXPECT_EQ(answer.kind, SearchAnswer::Kind::Modified);
        answered[answer.messageId] = std::to_string(answer.resultCode);
        const std::string after = Described(answer.entry).substr(answer.entry.dn.size());
        if (answer.resultCode == 0) {
            EXPECT_EQ(after.rfind("|accountbalance=", 0), 0u) << after;
            sums.insert(after);
        } else {
            EXPECT_EQ(after, "");
        }
    }
    EXPECT_EQ(answered,
              (std::map<std::int32_t, std::string>{
                  {0x7ffffff0, "0"}, {0x7fffffef, "0"}, {0x7fffffee, "32"}, {0x7fffffed, "0"}}));
    EXPECT_EQ(sums.size(), 3u);                        // each increment's own sum
    EXPECT_EQ(sums.count("|accountbalance=10;"), 1u);  // whichever came last: 10 + 1 + 2 - 3
}
#endif

TEST(LdapProtocolTest, FiltersThatCannotBeReadAreRefusedNamingThePlace) {
    const struct {
        const char* filter;
        const char* where;
    } cases[] = {
        {"(cn=a", "character 6: a ')' is missing"},
        {"(cn=a))", "character 7: text after the end"},
        {"(&)", "character 3: a '(' is missing"},
        {"(cn=\\4)", "character 5: '\\' is not followed by two hexadecimal digits"},
        {"(cn:dn:=x)", "character 4: extensible matches are not supported"},
        {"(=x)", "character 2: an attribute name is missing"},
        {"(cn)", "character 4: '=' is missing"},
        {"", "character 1: a '(' is missing"},
    };
    for (const auto& c : cases) {
        std::string problem;
        EXPECT_FALSE(ldap::EncodeFilter(c.filter, &problem)) << c.filter;
        EXPECT_NE(problem.find(c.where), std::string::npos) << c.filter << ": " << problem;
    }
    std::string deep;
    for (int i = 0; i < 1000; ++i) {
        deep += "(!";
    }
    std::string problem;
    EXPECT_FALSE(ldap::EncodeFilter(deep, &problem));
    EXPECT_NE(problem.find("nests too deep"), std::string::npos);
}

// An answer read from a damaged message is refused or read as some answer, never past its end;
// a message cut short is never whole.
TEST(LdapProtocolTest, DamagedAnswersAreNeverReadPastTheirEnd) {
    // A SearchResultEntry (cn=A,o=B with cn: A and two mail values) and a SearchResultDone
    // carrying a paged-results cookie, as a server sends them.
    auto tlv = [](unsigned char tag, const std::string& contents) {
        return std::string(1, static_cast<char>(tag)) + static_cast<char>(contents.size()) +
               contents;
    };
    const std::string id = tlv(0x02, "\x07");
    const std::string entry = tlv(
        0x30, id + tlv(0x64, tlv(0x04, "cn=A,o=B") +
                                 tlv(0x30, tlv(0x30, tlv(0x04, "cn") + tlv(0x31, tlv(0x04, "A"))) +
                                               tlv(0x30, tlv(0x04, "mail") +
                                                             tlv(0x31, tlv(0x04, "c@de") +
                                                                           tlv(0x04, "a@b"))))));
    const std::string paged = tlv(0x30, tlv(0x02, std::string(1, '\0')) + tlv(0x04, "COOKY"));
    const std::string done =
        tlv(0x30, id + tlv(0x65, tlv(0x0a, std::string(1, '\0')) + tlv(0x04, "") + tlv(0x04, "")) +
                      tlv(0xa0, tlv(0x30, tlv(0x04, "1.2.840.113556.1.4.319") + tlv(0x04, paged))));
    SearchAnswer answer;
    ASSERT_TRUE(ldap::ParseSearchAnswer(entry, answer));
    EXPECT_EQ(Described(answer.entry), "cn=A,o=B|cn=A;|mail=a@b;c@de;");
    ASSERT_TRUE(ldap::ParseSearchAnswer(done, answer));
    EXPECT_EQ(answer.kind, SearchAnswer::Kind::Done);
    EXPECT_EQ(answer.pageCookie.value_or(""), "COOKY");

    // A modify's answer with the entry of the Post-Read control.
    const std::string postRead =
        tlv(0x64, tlv(0x04, "cn=A,o=B") +
                      tlv(0x30, tlv(0x30, tlv(0x04, "n") + tlv(0x31, tlv(0x04, "7")))));
    const std::string modified =
        tlv(0x30, id + tlv(0x67, tlv(0x0a, std::string(1, '\0')) + tlv(0x04, "") + tlv(0x04, "")) +
                      tlv(0xa0, tlv(0x30, tlv(0x04, "1.3.6.1.1.13.2") + tlv(0x04, postRead))));
    ASSERT_TRUE(ldap::ParseSearchAnswer(modified, answer));
    EXPECT_EQ(answer.kind, SearchAnswer::Kind::Modified);
    EXPECT_EQ(Described(answer.entry), "cn=A,o=B|n=7;");

    for (const std::string& message : {entry, done, modified}) {
        EXPECT_EQ(ldap::WholeElement(message), message.size());
        for (std::size_t cut = 0; cut < message.size(); ++cut) {
            EXPECT_EQ(ldap::WholeElement(message.substr(0, cut)), 0u) << cut;
        }
        for (std::size_t at = 0; at < message.size(); ++at) {
            for (const unsigned char flip : {0x01, 0x80, 0xff}) {
                std::string damaged = message;
                damaged[at] = static_cast<char>(damaged[at] ^ flip);
                ldap::ParseSearchAnswer(damaged, answer);  // under the sanitizers: no overread
            }
        }
    }
}

}  // namespace
}  // namespace tally::testing
