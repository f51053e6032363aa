// Credentials for a proxy that asks for them, given on the command line as
// "/proxyuser=NAME" and "/proxypassword=SECRET": words anywhere on the
// line, the switch in any letter case, the value as typed (quotes around a
// value with blanks are the command line's). The password stays in memory;
// it is never written anywhere.
//
// An installer that hands over to a newer one passes the password in the
// environment variable kProxyPasswordVariable of that process alone, never
// on its command line (which the process list and process-creation audits
// show); the new one reads it and removes it at once, so no program it
// starts inherits it.
#pragma once

#include <string>
#include <vector>

namespace tide {

struct ProxyCredentials {
    std::wstring user;
    std::wstring password;
};

extern const wchar_t kProxyPasswordVariable[];  // "TIDESTART_PROXY_PASSWORD"
extern const wchar_t kProxyPasswordSwitch[];    // "/proxypassword="

// The first "/proxyuser=" and the first "/proxypassword=" of args (the
// program path, args[0], is not looked at); empty when missing.
ProxyCredentials ProxyCredentialsFromArguments(const std::vector<std::wstring>& args);

// Whether an argument is a "/proxypassword=" switch (any letter case).
bool IsProxyPasswordArgument(const std::wstring& arg);

// Hands the credentials to the internet layer for every later session, when
// a user name is given: the password from args, else from
// kProxyPasswordVariable. The variable is removed from the environment
// either way.
void ApplyProxyCredentials(const std::vector<std::wstring>& args);

}  // namespace tide
