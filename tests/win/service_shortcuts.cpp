// The server's service and the shortcuts on Windows: a driver that runs one
// operation against the real registry, service manager, command
// interpreter and shell objects, and reads shortcut files back through the
// shell. The Wine scripts judge what it prints.
//
//   service_shortcuts.exe [--real-boxes] OPERATION ARGS...
//     setup INSTALLDIR PORT   records the install directory and the port
//     install                 InstallServerService
//     remove [quiet]          RemoveServerService
//     start | stop            SetServerRunning(true | false)
//     programs INSTALLER      CreateProgramShortcuts(INSTALLER, install dir)
//     services                CreateServiceShortcuts
//     setting NAME            prints the setting's value
//     link FILE               prints the shell link's target, arguments,
//                             working directory and description, one a line
//     url FILE                prints the Internet shortcut's address
// Operations print "result=1" or "result=0" and then every message box as
// "box|caption|text|icon"; with --real-boxes they print nothing and show
// the boxes (for the dialog robot). The exit code is 0 for a true result, 1
// for false.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <intshcut.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/encoding.h"
#include "base/error.h"
#include "core/local_file.h"
#include "core/manifest.h"
#include "core/settings.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "system/server_service.h"
#include "system/shortcuts.h"

using namespace tide;

namespace {

void Print(const std::wstring& s) {
    std::string u = WideToUtf8(s);
    std::printf("%s\n", u.c_str());
    std::fflush(stdout);
}

// The manifest was put beside the install directory by the test: reading
// the local copy is all a lookup does.
class LocalManifest : public ManifestFetcher {
public:
    bool Fetch(const std::wstring&, const std::wstring& localPath, std::string& accepted) override {
        const auto bytes = ReadLocalFile(localPath);
        if (bytes) accepted = *bytes;
        return bytes.has_value();
    }
};

const wchar_t* IconName(platform::MbIcon icon) {
    switch (icon) {
        case platform::MbIcon::Warning: return L"warning";
        case platform::MbIcon::Information: return L"information";
        case platform::MbIcon::Error: return L"error";
        case platform::MbIcon::Stop: return L"stop";
        default: return L"none";
    }
}

template <class I>
struct Com {
    I* p = nullptr;
    ~Com() {
        if (p) p->Release();
    }
};

int ReadLink(const std::wstring& file) {
    Com<IShellLinkW> link;
    Com<IPersistFile> pf;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link.p))) ||
        FAILED(link.p->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&pf.p))) ||
        FAILED(pf.p->Load(file.c_str(), STGM_READ))) {
        Print(L"cannot load " + file);
        return 2;
    }
    wchar_t buf[1024];
    buf[0] = 0;
    link.p->GetPath(buf, 1024, nullptr, SLGP_RAWPATH);
    Print(L"target=" + std::wstring(buf));
    buf[0] = 0;
    link.p->GetArguments(buf, 1024);
    Print(L"arguments=[" + std::wstring(buf) + L"]");
    buf[0] = 0;
    link.p->GetWorkingDirectory(buf, 1024);
    Print(L"workdir=" + std::wstring(buf));
    buf[0] = 0;
    link.p->GetDescription(buf, 1024);
    Print(L"description=" + std::wstring(buf));
    return 0;
}

int ReadUrl(const std::wstring& file) {
    Com<IUniformResourceLocatorA> url;
    Com<IPersistFile> pf;
    if (FAILED(CoCreateInstance(CLSID_InternetShortcut, nullptr, CLSCTX_INPROC_SERVER, IID_IUniformResourceLocatorA,
                                reinterpret_cast<void**>(&url.p))) ||
        FAILED(url.p->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&pf.p))) ||
        FAILED(pf.p->Load(file.c_str(), STGM_READ))) {
        Print(L"cannot load " + file);
        return 2;
    }
    char* text = nullptr;
    if (FAILED(url.p->GetURL(&text)) || !text) {
        Print(L"no URL");
        return 2;
    }
    std::printf("url=%s\n", text);
    CoTaskMemFree(text);
    return 0;
}

int Run(const std::vector<std::wstring>& a, bool realBoxes) {
    const std::wstring op = a.empty() ? L"" : a[0];
    if (op == L"setup" && a.size() == 3) {
        SaveInstallDirectory(a[1]);
        WriteSetting(L"Port", a[2]);
        return 0;
    }
    if (op == L"setting" && a.size() == 2) {
        Print(ReadSetting(a[1]));
        return 0;
    }
    if (op == L"link" && a.size() == 2) return ReadLink(a[1]);
    if (op == L"url" && a.size() == 2) return ReadUrl(a[1]);

    bool result = true;
    if (op == L"install") {
        result = InstallServerService();
    } else if (op == L"remove") {
        RemoveServerService(a.size() > 1 && a[1] == L"quiet");
    } else if (op == L"start" || op == L"stop") {
        result = SetServerRunning(op == L"start");
    } else if (op == L"programs" && a.size() == 2) {
        CreateProgramShortcuts(a[1], InstallDirectory());
    } else if (op == L"services") {
        CreateServiceShortcuts(InstallDirectory());
    } else {
        Print(L"unknown operation");
        return 2;
    }
    if (!realBoxes) Print(result ? L"result=1" : L"result=0");
    return result ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> args(argv + 1, argv + argc);
    bool realBoxes = !args.empty() && args[0] == L"--real-boxes";
    if (realBoxes) args.erase(args.begin());

    // As the program does at start-up: COM for the shell's objects.
    CoInitialize(nullptr);
    LocalManifest manifest;
    SetManifestFetcher(&manifest);
    platform::RecordingMessageBoxes boxes;
    if (!realBoxes) platform::Port<platform::MessageBoxes>::Set(&boxes);

    int rc;
    try {
        rc = Run(args, realBoxes);
    } catch (const Error& e) {
        Print(L"error=" + e.Message());
        rc = 3;
    }
    for (const auto& b : boxes.Shown()) Print(L"box|" + b.caption + L"|" + b.text + L"|" + IconName(b.icon));
    platform::Port<platform::MessageBoxes>::Set(nullptr);
    CoUninitialize();
    return rc;
}
