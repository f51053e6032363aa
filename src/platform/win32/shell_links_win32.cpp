// Shell links and Internet shortcuts through the shell's COM objects.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <intshcut.h>

#include "platform/shell_links.h"

namespace tide::platform::win32 {
namespace {

// Releases a COM interface pointer when it goes.
template <class I>
class ComRef {
public:
    ComRef() = default;
    ~ComRef() {
        if (p_) p_->Release();
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    I** Out() { return &p_; }
    void** OutVoid() { return reinterpret_cast<void**>(&p_); }
    I* operator->() const { return p_; }

private:
    I* p_ = nullptr;
};

class Win32ShellLink : public ShellLink {
public:
    ComRef<IShellLinkW> link;
    ComRef<IPersistFile> file;
    long SetPath(const std::wstring& path) override { return link->SetPath(path.c_str()); }
    long SetArguments(const std::wstring& arguments) override { return link->SetArguments(arguments.c_str()); }
    long SetDescription(const std::wstring& d) override { return link->SetDescription(d.c_str()); }
    long SetWorkingDirectory(const std::wstring& dir) override { return link->SetWorkingDirectory(dir.c_str()); }
    long Save(const std::wstring& path, bool remember) override { return file->Save(path.c_str(), remember); }
};

class Win32InternetShortcut : public InternetShortcut {
public:
    ComRef<IUniformResourceLocatorA> url;
    ComRef<IPersistFile> file;
    long SetURL(const std::string& ansiUrl, uint32_t flags) override { return url->SetURL(ansiUrl.c_str(), flags); }
    long Save(const std::wstring& path, bool remember) override { return file->Save(path.c_str(), remember); }
};

class Win32ShellLinks : public ShellLinks {
public:
    std::unique_ptr<ShellLink> NewShellLink(long& hr) override {
        auto obj = std::make_unique<Win32ShellLink>();
        hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, obj->link.OutVoid());
        if (FAILED(hr)) return nullptr;
        hr = obj->link->QueryInterface(IID_IPersistFile, obj->file.OutVoid());
        if (FAILED(hr)) return nullptr;
        return obj;
    }
    std::unique_ptr<InternetShortcut> NewInternetShortcut(long& hr) override {
        auto obj = std::make_unique<Win32InternetShortcut>();
        hr = CoCreateInstance(CLSID_InternetShortcut, nullptr, CLSCTX_INPROC_SERVER, IID_IUniformResourceLocatorA,
                              obj->url.OutVoid());
        if (FAILED(hr)) return nullptr;
        hr = obj->url->QueryInterface(IID_IPersistFile, obj->file.OutVoid());
        if (FAILED(hr)) return nullptr;
        return obj;
    }
};

}  // namespace
}  // namespace tide::platform::win32

namespace tide::platform {
template <>
ShellLinks& Port<ShellLinks>::Default() {
    static win32::Win32ShellLinks instance;
    return instance;
}
}  // namespace tide::platform
