// What the install directory checks ask of the system about paths and
// folders: the full and the long form of a path, the system's own folders
// (by CSIDL), a fresh unique identity, and the access list a folder the
// installer creates gets.
#pragma once

#include <string>

#include "platform/port.h"

namespace tide::platform {

// Folder identifiers as SHGetFolderPathW takes them.
enum Csidl : int {
    kCsidlDesktop = 0x0010,           // CSIDL_DESKTOPDIRECTORY
    kCsidlPersonal = 0x0005,          // Documents
    kCsidlFavorites = 0x0006,
    kCsidlStartup = 0x0007,
    kCsidlRecent = 0x0008,
    kCsidlSendTo = 0x0009,
    kCsidlStartMenu = 0x000b,
    kCsidlMusic = 0x000d,
    kCsidlVideo = 0x000e,
    kCsidlNetHood = 0x0013,
    kCsidlFonts = 0x0014,
    kCsidlTemplates = 0x0015,
    kCsidlCommonStartMenu = 0x0016,
    kCsidlCommonProgramsFolder = 0x0017,
    kCsidlCommonStartup = 0x0018,
    kCsidlCommonDesktop = 0x0019,
    kCsidlAppData = 0x001a,
    kCsidlPrintHood = 0x001b,
    kCsidlLocalAppData = 0x001c,
    kCsidlCommonFavorites = 0x001f,
    kCsidlInternetCache = 0x0020,
    kCsidlCookies = 0x0021,
    kCsidlHistory = 0x0022,
    kCsidlCommonAppData = 0x0023,     // ProgramData
    kCsidlWindows = 0x0024,
    kCsidlSystem = 0x0025,
    kCsidlProgramFiles = 0x0026,
    kCsidlPictures = 0x0027,
    kCsidlProfile = 0x0028,
    kCsidlSystemX86 = 0x0029,
    kCsidlProgramFilesX86 = 0x002a,
    kCsidlProgramFilesCommon = 0x002b,
    kCsidlProgramFilesCommonX86 = 0x002c,
    kCsidlCommonTemplates = 0x002d,
    kCsidlCommonDocuments = 0x002e,
    kCsidlCommonAdminTools = 0x002f,
    kCsidlAdminTools = 0x0030,
    kCsidlCommonMusic = 0x0035,
    kCsidlCommonPictures = 0x0036,
    kCsidlCommonVideo = 0x0037,
    kCsidlResources = 0x0038,
    kCsidlCdBurnArea = 0x003b,
};

class Paths {
public:
    virtual ~Paths() = default;
    // GetFullPathNameW; empty text on failure.
    virtual std::wstring FullPath(const std::wstring& path) = 0;
    // GetLongPathNameW: the path with every short (8.3) name replaced by the
    // long one; empty text when the path does not exist or on failure.
    virtual std::wstring LongPath(const std::wstring& path) = 0;
    // SHGetFolderPathW (the current path, no creation); empty text on
    // failure or when this system has no such folder.
    virtual std::wstring KnownFolder(int csidl) = 0;
    // A new unique identity as text (CoCreateGuid, "{...}").
    virtual std::wstring NewIdentity() = 0;
    // Gives the folder a protected access list (nothing inherited from its
    // parent): Administrators and SYSTEM full control, Users read and
    // execute, each inherited by everything below (SetNamedSecurityInfoW).
    // False on failure.
    virtual bool ProtectFolder(const std::wstring& path) = 0;
};

inline Paths& PathOps() { return Port<Paths>::Get(); }

}  // namespace tide::platform
