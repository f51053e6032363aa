#include "download/manifest_download.h"

#include "core/Tidestart.h"
#include "download/URLFetcher2.h"

namespace tide {

bool TManifestDownload::Fetch(const std::wstring& location, const std::wstring& localPath) {
    TUrlDownloader dl(AgentName());
    dl.AllowResume = false;
    return dl.downloadURL(location, localPath, L"", -1);
}

ManifestFetcher& ManifestDownload() {
    static TManifestDownload instance;
    return instance;
}

}  // namespace tide
