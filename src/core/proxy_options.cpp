#include "core/proxy_options.h"

#include "base/text.h"
#include "platform/http.h"

namespace tide {
namespace {

// The text after "/NAME=" (any letter case) in the first argument that
// starts with it; whether one does.
bool SwitchValue(const std::vector<std::wstring>& args, const std::wstring& prefix, std::wstring& value) {
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i].size() >= prefix.size() && LowerCase(args[i].substr(0, prefix.size())) == prefix) {
            value = args[i].substr(prefix.size());
            return true;
        }
    }
    return false;
}

}  // namespace

ProxyCredentials ProxyCredentialsFromArguments(const std::vector<std::wstring>& args) {
    ProxyCredentials c;
    SwitchValue(args, L"/proxyuser=", c.user);
    SwitchValue(args, L"/proxypassword=", c.password);
    return c;
}

void ApplyProxyCredentials(const std::vector<std::wstring>& args) {
    const ProxyCredentials c = ProxyCredentialsFromArguments(args);
    if (!c.user.empty()) platform::Internet().SetProxyCredentials(c.user, c.password);
}

}  // namespace tide
