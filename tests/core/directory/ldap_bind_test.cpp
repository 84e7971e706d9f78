// The simple bind the Windows wire's relay sends itself: its request byte for byte as the
// standard spells it (short and long lengths, message IDs of every width), and its answer read
// whole or refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ldapstore/ldap_bind.h"

namespace tally::testing {
namespace {

// A BER element written out by hand, the test's own: definite length, short or long form.
std::string Tlv(char tag, const std::string& contents) {
    std::string length;
    if (contents.size() < 128) {
        length = std::string(1, static_cast<char>(contents.size()));
    } else {
        for (std::size_t left = contents.size(); left > 0; left >>= 8) {
            length.insert(length.begin(), static_cast<char>(left & 0xFF));
        }
        length.insert(length.begin(), static_cast<char>(0x80 | length.size()));
    }
    return std::string(1, tag) + length + contents;
}

TEST(LdapBindTest, TheRequestIsTheStandardsAndTheAnswerIsReadWholeOrRefused) {
    struct Request {
        std::int32_t id;
        std::string idBytes;
        std::string dn;
        std::string password;
    };
    const std::vector<Request> requests = {
        {1, "\x01", "uid=ops1,ou=people,dc=uni,dc=example", "secret"},
        {0x7fffffff, "\x7f\xff\xff\xff", "cn=admin", std::string(300, 'p')},  // long lengths
        {200, std::string("\x00\xc8", 2), "", ""},                            // anonymous
        {0x40000000, std::string("\x40\x00\x00\x00", 4), std::string(70000, 'd'), "x"},
    };
    for (const Request& r : requests) {
        std::vector<char> encoded;
        ldap::EncodeSimpleBind(r.id, r.dn, r.password, encoded);
        const std::string expected =
            Tlv(0x30, Tlv(0x02, r.idBytes) +
                          Tlv(0x60, Tlv(0x02, "\x03") + Tlv(0x04, r.dn) + Tlv('\x80', r.password)));
        EXPECT_EQ(std::string(encoded.begin(), encoded.end()), expected) << r.id;
    }

    const std::string refused = Tlv(
        0x30, Tlv(0x02, "\x05") +
                  Tlv(0x61, Tlv(0x0a, "\x31") + Tlv(0x04, "") + Tlv(0x04, "Invalid credentials")));
    struct Answer {
        std::string message;
        bool read;
        int code;
    };
    const std::vector<Answer> answers = {
        {refused, true, 49},
        {Tlv(0x30, Tlv(0x02, "\x05") + Tlv(0x61, Tlv(0x0a, std::string(1, '\0')) + Tlv(0x04, "") +
                                                     Tlv(0x04, std::string(200, 'w')))),
         true, 0},
        {refused.substr(0, refused.size() - 3), false, 0},  // cut short
        {Tlv(0x30, Tlv(0x02, "\x05") +
                       Tlv(0x65, Tlv(0x0a, std::string(1, '\0')) + Tlv(0x04, "") + Tlv(0x04, ""))),
         false, 0},                                                           // a search's end
        {Tlv(0x30, Tlv(0x02, "\x05") + Tlv(0x61, Tlv(0x0a, ""))), false, 0},  // no code
    };
    for (const Answer& a : answers) {
        ldap::BindAnswer answer;
        ASSERT_EQ(ldap::ParseBindResponse(a.message, answer), a.read) << a.message.size();
        if (a.read) {
            EXPECT_EQ(answer.messageId, 5);
            EXPECT_EQ(answer.resultCode, a.code);
        }
    }
    ldap::BindAnswer words;
    ASSERT_TRUE(ldap::ParseBindResponse(refused, words));
    EXPECT_EQ(words.diagnostic, "Invalid credentials");
}

}  // namespace
}  // namespace tally::testing
