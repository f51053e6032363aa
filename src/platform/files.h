// Files and directories. Paths are absolute Windows paths ("C:\dir\file");
// the native fake maps them onto a folder of the host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/port.h"

namespace tide::platform {

// An open file. Read and Write return the number of bytes moved; Write throws
// tide::IoError when the bytes cannot be written.
class File {
public:
    virtual ~File() = default;
    virtual uint64_t Size() = 0;
    virtual uint64_t Position() = 0;
    virtual void Seek(uint64_t position) = 0;
    // Returns 0 at the end of the file; throws tide::IoError on a read error.
    virtual size_t Read(void* buffer, size_t count) = 0;
    virtual void Write(const void* buffer, size_t count) = 0;
};

// How others may open a file while we hold it.
enum class Share {
    None,       // exclusive
    Read,       // others may read
    ReadWrite,  // others may read and write
};

enum class OpenMode {
    ReadExisting,   // read only; the file must exist
    WriteExisting,  // write, keep content; the file must exist
    CreateAlways,   // write; created empty, an existing file is truncated
    ReadWriteExisting,
};

// One entry of a folder as FindFirstFileW/FindNextFileW report it.
struct DirEntry {
    std::wstring name;  // without the folder
    bool directory = false;
    bool reparsePoint = false;  // a junction or symbolic link (not followed)
    uint64_t size = 0;          // of a file; 0 for a folder
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // nullptr when the file cannot be opened (missing, no access, sharing
    // violation); lastError() then holds the system error code.
    virtual std::unique_ptr<File> Open(const std::wstring& path, OpenMode mode, Share share) = 0;
    virtual bool FileExists(const std::wstring& path) = 0;
    virtual bool DirectoryExists(const std::wstring& path) = 0;
    // Creates one directory (its parent must exist).
    virtual bool MakeDirectory(const std::wstring& path) = 0;
    virtual bool RemoveFile(const std::wstring& path) = 0;
    virtual bool Copy(const std::wstring& from, const std::wstring& to, bool failIfExists) = 0;
    virtual bool Move(const std::wstring& from, const std::wstring& to) = 0;
    // The entries of folder (no trailing backslash), without "." and "..", in the
    // order the file system gives them. False when the folder cannot be
    // listed (LastError() tells why); an empty folder is true with none.
    virtual bool ListDirectory(const std::wstring& folder, std::vector<DirEntry>& entries) = 0;
    // Error code of the last failed call on this thread (Windows error codes).
    virtual uint32_t LastError() = 0;
};

inline FileSystem& Files() { return Port<FileSystem>::Get(); }

}  // namespace tide::platform
