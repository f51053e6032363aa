// The shell's shortcut objects: shell links (.lnk files) and Internet
// shortcuts (.url files), created in-process through COM. The calling thread
// must have initialised COM (the program does so at start-up).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/port.h"

namespace tide::platform {

// One shell-link object (CLSID_ShellLink) through IShellLinkW and
// IPersistFile. The setters and Save return the call's HRESULT (0 = S_OK).
class ShellLink {
public:
    virtual ~ShellLink() = default;
    virtual long SetPath(const std::wstring& path) = 0;
    virtual long SetArguments(const std::wstring& arguments) = 0;
    virtual long SetDescription(const std::wstring& description) = 0;
    virtual long SetWorkingDirectory(const std::wstring& dir) = 0;
    // IPersistFile::Save; remember: make the file the object's current one.
    virtual long Save(const std::wstring& path, bool remember) = 0;
};

// IURL_SETURL_FL_GUESS_PROTOCOL
constexpr uint32_t kUrlGuessProtocol = 1;

// One Internet-shortcut object (CLSID_InternetShortcut) through
// IUniformResourceLocatorA and IPersistFile.
class InternetShortcut {
public:
    virtual ~InternetShortcut() = default;
    // The address in the system's ANSI code page.
    virtual long SetURL(const std::string& ansiUrl, uint32_t flags) = 0;
    virtual long Save(const std::wstring& path, bool remember) = 0;
};

class ShellLinks {
public:
    virtual ~ShellLinks() = default;
    // nullptr when the object cannot be created or lacks one of its two
    // interfaces; hr then holds the failing HRESULT.
    virtual std::unique_ptr<ShellLink> NewShellLink(long& hr) = 0;
    virtual std::unique_ptr<InternetShortcut> NewInternetShortcut(long& hr) = 0;
};

inline ShellLinks& Shortcuts() { return Port<ShellLinks>::Get(); }

}  // namespace tide::platform
