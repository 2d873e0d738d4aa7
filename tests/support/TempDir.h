#pragma once

#include <string>

// A fresh directory under /tmp for a test's links and files, removed with what is left in it.
// Path() is empty when it could not be made.
class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::string& Path() const { return m_strPath; }

private:
    std::string m_strPath;
};
