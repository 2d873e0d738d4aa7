#include "cli/OutputFile.h"

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

bool OutputHoldsData(FILE* out) {
    struct stat st {};
    return out != nullptr && fstat(fileno(out), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

bool IsTerminal(FILE* stream) {
    return stream != nullptr && isatty(fileno(stream)) == 1;
}

void ClearOutputError() {
    errno = 0;
}

int FailedOutputError() {
    return errno != 0 ? errno : EIO;
}
