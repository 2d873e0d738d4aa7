#include "cli/OutputFile.h"

#include <cerrno>
#include <cstdlib>

#include <io.h>
#include <stdio.h>

#include <windows.h>

bool OutputHoldsData(FILE* out) {
    if (out == nullptr) {
        return false;
    }
    const intptr_t nOsHandle = _get_osfhandle(_fileno(out));
    if (nOsHandle == -1) {
        return false;
    }
    const auto hFile = reinterpret_cast<HANDLE>(nOsHandle);
    LARGE_INTEGER size{};
    return GetFileType(hFile) == FILE_TYPE_DISK && GetFileSizeEx(hFile, &size) && size.QuadPart > 0;
}

bool IsTerminal(FILE* stream) {
    if (stream == nullptr) {
        return false;
    }
    const intptr_t nOsHandle = _get_osfhandle(_fileno(stream));
    DWORD mode = 0;
    return nOsHandle != -1 && GetConsoleMode(reinterpret_cast<HANDLE>(nOsHandle), &mode) != 0;
}

void ClearOutputError() {
    errno = 0;
    _doserrno = 0;
}

int FailedOutputError() {
    if (errno == EINVAL) {
        // The system's own error of the failed write, which the C library keeps beside errno.
        switch (_doserrno) {
        case ERROR_NO_DATA:            // the pipe is being closed: its reader has left
        case ERROR_BROKEN_PIPE:        // the pipe has ended
        case ERROR_PIPE_NOT_CONNECTED: // no process is on the other end (wine's word for it)
            return EPIPE;
        default:
            break;
        }
    }
    return errno != 0 ? errno : EIO;
}
