#include "cli/OutputFile.h"

#include <sys/stat.h>

bool OutputHoldsData(FILE* out) {
    struct stat st {};
    return out != nullptr && fstat(fileno(out), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}
