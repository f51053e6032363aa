#include "core/proxy_options.h"

#include "base/text.h"
#include "platform/environment.h"
#include "platform/http.h"

namespace tide {

const wchar_t kProxyPasswordVariable[] = L"TIDESTART_PROXY_PASSWORD";
const wchar_t kProxyPasswordSwitch[] = L"/proxypassword=";

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
    SwitchValue(args, kProxyPasswordSwitch, c.password);
    return c;
}

bool IsProxyPasswordArgument(const std::wstring& arg) {
    const std::wstring prefix = kProxyPasswordSwitch;
    return arg.size() >= prefix.size() && LowerCase(arg.substr(0, prefix.size())) == prefix;
}

void ApplyProxyCredentials(const std::vector<std::wstring>& args) {
    ProxyCredentials c = ProxyCredentialsFromArguments(args);
    auto& env = platform::Env();
    std::wstring handedOver = env.Variable(kProxyPasswordVariable);
    if (!handedOver.empty()) env.RemoveVariable(kProxyPasswordVariable);
    bool given = false;
    for (size_t i = 1; i < args.size(); ++i) given = given || IsProxyPasswordArgument(args[i]);
    if (!given) c.password = handedOver;
    handedOver.assign(handedOver.size(), L'\0');
    if (!c.user.empty()) platform::Internet().SetProxyCredentials(c.user, c.password);
}

}  // namespace tide
