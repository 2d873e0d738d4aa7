#include "cli/OutputFile.h"

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
