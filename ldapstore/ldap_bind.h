// A simple bind as it goes over the wire (RFC 4511), for the Windows wire's relay, which sends the
// bind itself: wldap32 would copy the password into buffers of its own and free them unwiped, so
// that a refused password lay in memory while the program told the refusal. Here the request is
// written once into a buffer the caller wipes as soon as it has been sent.
//
// Plain C++, so that it is tested natively.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tally::ldap {

// The whole LDAPMessage of an LDAPv3 simple bind request for `dn` with `password`, written into
// `out`, which is sized once: no other copy of the password is made.
void EncodeSimpleBind(std::int32_t messageId, std::string_view dn, std::string_view password,
                      std::vector<char>& out);

// A BindResponse read from a whole LDAPMessage: its message ID, result code and the server's
// words. False when `message` is no BindResponse that can be read.
struct BindAnswer {
    std::int32_t messageId = 0;
    int resultCode = 0;
    std::string diagnostic;
};
bool ParseBindResponse(std::string_view message, BindAnswer& answer);

}  // namespace tally::ldap
