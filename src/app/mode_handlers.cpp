// Which function runs each mode. Each mode's unit adds itself here when it
// lands.
#include "app/program.h"

#include <exception>

#include "base/encoding.h"
#include "base/error.h"
#include "download/manifest_download.h"
#include "download/verification.h"
#include "platform/environment.h"
#include "platform/message_box.h"
#include "ui/frmNewMain.h"
#include "uninstall/Uninstall.h"

namespace tide {

ModeHandlers DefaultModeHandlers() {
    ModeHandlers h;
    h.testIni = VerifyManifestFiles;
    h.uninstall = [] { RunUninstall(nullptr); };
    h.doUninstall = FinishUninstall;
    h.installer = [] {
        SetUninstallRunner(RunUninstall);
        TfrmNewMainForm form;
        form.Show();
        platform::Env().RunMessageLoop();
    };
    return h;
}

int RunModes(const ModeHandlers& handlers) {
    std::wstring message;
    try {
        return RunTidestart(handlers);
    } catch (const Error& e) {
        message = e.Message();
    } catch (const std::exception& e) {
        message = Utf8ToWide(e.what());
    } catch (...) {
        message = L"An unexpected error ended the program.";
    }
    platform::ShowMessage(message, L"Notice", platform::MbIcon::Error);
    return 1;
}

int RunProgram() {
    SetManifestFetcher(&ManifestDownload());
    return RunModes(DefaultModeHandlers());
}

}  // namespace tide
