#include "serial/SystemError.h"

#include <cstring>

std::string SystemErrorText(int nCode) {
    return std::strerror(nCode);
}

std::string_view PermissionFix() {
    return "to get access: sudo usermod -aG dialout $USER, then log in again";
}
