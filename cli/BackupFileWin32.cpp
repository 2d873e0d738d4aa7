#include "cli/BackupFile.h"

#include <string>
#include <system_error>

#include <windows.h>

#include "serial/TextWin32.h"

namespace {

std::string LastReason() {
    return std::system_category().message(static_cast<int>(GetLastError()));
}

// Owns a file handle and closes it when it goes.
class CFileHandle {
public:
    explicit CFileHandle(HANDLE h) : m_h(h) {}
    ~CFileHandle() { Close(); }
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;

    HANDLE Get() const { return m_h; }
    bool IsValid() const { return m_h != INVALID_HANDLE_VALUE; }
    void Close() {
        if (IsValid()) {
            CloseHandle(m_h);
            m_h = INVALID_HANDLE_VALUE;
        }
    }

private:
    HANDLE m_h;
};

} // namespace

bool ReadSmallFile(const std::string& path, size_t limit, std::string& text, std::string& error) {
    const CFileHandle file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file.IsValid() || !GetFileSizeEx(file.Get(), &size)) {
        error = LastReason();
        return false;
    }
    if (static_cast<unsigned long long>(size.QuadPart) > limit) {
        error = "larger than " + std::to_string(limit) + " bytes";
        return false;
    }
    text.assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD nRead = 0;
    if (!text.empty() &&
        !ReadFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &nRead, nullptr)) {
        error = LastReason();
        return false;
    }
    text.resize(nRead);
    return true;
}

bool WriteWholeFile(const std::string& path, std::string_view text, std::string& error) {
    // Beside the file, so that the move stays on its volume; the process id keeps two runs
    // apart, and CREATE_NEW any file that happens to have the name.
    const std::wstring target = WideFromUtf8(path);
    const std::wstring aside = target + L".new-" + std::to_wstring(GetCurrentProcessId());
    CFileHandle file(CreateFileW(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
        error = LastReason();
        return false;
    }
    DWORD nWritten = 0;
    const bool bWritten =
        WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &nWritten, nullptr) &&
        nWritten == text.size() && FlushFileBuffers(file.Get());
    if (!bWritten) {
        error = LastReason();
        file.Close();
        DeleteFileW(aside.c_str());
        return false;
    }
    file.Close();
    if (!MoveFileExW(aside.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = LastReason();
        DeleteFileW(aside.c_str());
        return false;
    }
    return true;
}
