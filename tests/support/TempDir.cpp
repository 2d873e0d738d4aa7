#include "tests/support/TempDir.h"

#include <stdlib.h>

#include <filesystem>
#include <system_error>

CTempDir::CTempDir() {
    // Short and under /tmp: a link's path is printed and compared whole in the tests.
    std::string name = "/tmp/qd7-test.XXXXXX";
    if (::mkdtemp(name.data()) != nullptr) {
        m_strPath = name;
    }
}

CTempDir::~CTempDir() {
    if (!m_strPath.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_strPath, ignored);
    }
}
