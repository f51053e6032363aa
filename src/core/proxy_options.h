// Credentials for a proxy that asks for them, given on the command line as
// "/proxyuser=NAME" and "/proxypassword=SECRET": words anywhere on the
// line, the switch in any letter case, the value as typed (quotes around a
// value with blanks are the command line's). The password stays in memory;
// it is never written anywhere.
#pragma once

#include <string>
#include <vector>

namespace tide {

struct ProxyCredentials {
    std::wstring user;
    std::wstring password;
};

// The first "/proxyuser=" and the first "/proxypassword=" of args (the
// program path, args[0], is not looked at); empty when missing.
ProxyCredentials ProxyCredentialsFromArguments(const std::vector<std::wstring>& args);

// Hands the credentials of args to the internet layer for every later
// session, when a user name is given.
void ApplyProxyCredentials(const std::vector<std::wstring>& args);

}  // namespace tide
