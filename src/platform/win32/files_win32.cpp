#include <windows.h>

#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/win32/win32_util.h"

namespace tide::platform::win32 {
namespace {

class Win32File : public File {
public:
    Win32File(HANDLE h, std::wstring path) : h_(h), path_(std::move(path)) {}
    ~Win32File() override { CloseHandle(h_); }
    uint64_t Size() override {
        LARGE_INTEGER li{};
        return GetFileSizeEx(h_, &li) ? static_cast<uint64_t>(li.QuadPart) : 0;
    }
    uint64_t Position() override {
        LARGE_INTEGER zero{}, pos{};
        SetFilePointerEx(h_, zero, &pos, FILE_CURRENT);
        return static_cast<uint64_t>(pos.QuadPart);
    }
    void Seek(uint64_t position) override {
        LARGE_INTEGER li;
        li.QuadPart = static_cast<LONGLONG>(position);
        SetFilePointerEx(h_, li, nullptr, FILE_BEGIN);
    }
    size_t Read(void* buffer, size_t count) override {
        DWORD got = 0;
        if (!ReadFile(h_, buffer, static_cast<DWORD>(count), &got, nullptr))
            throw IoError(L"Read error on " + path_ + L": " + SystemMessage(GetLastError()));
        return got;
    }
    void Write(const void* buffer, size_t count) override {
        DWORD put = 0;
        if (!WriteFile(h_, buffer, static_cast<DWORD>(count), &put, nullptr) || put != count)
            throw IoError(L"Write error on " + path_ + L": " + SystemMessage(GetLastError()));
    }

private:
    HANDLE h_;
    std::wstring path_;
};

thread_local DWORD tlsLastError = 0;

bool Fail() {
    tlsLastError = GetLastError();
    return false;
}

class Win32FileSystem : public FileSystem {
public:
    std::unique_ptr<File> Open(const std::wstring& path, OpenMode mode, Share share) override {
        DWORD access = 0, disposition = OPEN_EXISTING;
        switch (mode) {
            case OpenMode::ReadExisting: access = GENERIC_READ; break;
            case OpenMode::WriteExisting: access = GENERIC_WRITE; break;
            case OpenMode::ReadWriteExisting: access = GENERIC_READ | GENERIC_WRITE; break;
            case OpenMode::CreateAlways: access = GENERIC_READ | GENERIC_WRITE; disposition = CREATE_ALWAYS; break;
        }
        DWORD shareMode = share == Share::None ? 0
                          : share == Share::Read ? FILE_SHARE_READ
                                                 : FILE_SHARE_READ | FILE_SHARE_WRITE;
        HANDLE h = CreateFileW(path.c_str(), access, shareMode, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            tlsLastError = GetLastError();
            return nullptr;
        }
        return std::make_unique<Win32File>(h, path);
    }
    bool FileExists(const std::wstring& path) override {
        DWORD a = GetFileAttributesW(path.c_str());
        return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
    }
    bool DirectoryExists(const std::wstring& path) override {
        DWORD a = GetFileAttributesW(path.c_str());
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
    }
    bool MakeDirectory(const std::wstring& path) override {
        return CreateDirectoryW(path.c_str(), nullptr) ? true : Fail();
    }
    bool RemoveFile(const std::wstring& path) override { return DeleteFileW(path.c_str()) ? true : Fail(); }
    bool Copy(const std::wstring& from, const std::wstring& to, bool failIfExists) override {
        return CopyFileW(from.c_str(), to.c_str(), failIfExists) ? true : Fail();
    }
    bool Move(const std::wstring& from, const std::wstring& to) override {
        return MoveFileW(from.c_str(), to.c_str()) ? true : Fail();
    }
    bool ListDirectory(const std::wstring& folder, std::vector<DirEntry>& entries) override {
        entries.clear();
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND ? true : Fail();
        do {
            const std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            DirEntry e;
            e.name = name;
            e.directory = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            e.reparsePoint = (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            e.size = e.directory ? 0 : (static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
            entries.push_back(std::move(e));
        } while (FindNextFileW(h, &fd));
        const DWORD end = GetLastError();
        FindClose(h);
        if (end != ERROR_NO_MORE_FILES) {
            tlsLastError = end;
            return false;
        }
        return true;
    }
    uint32_t LastError() override { return tlsLastError; }
};

}  // namespace
}  // namespace tide::platform::win32

namespace tide::platform {
template <>
FileSystem& Port<FileSystem>::Default() {
    static win32::Win32FileSystem instance;
    return instance;
}
}  // namespace tide::platform
