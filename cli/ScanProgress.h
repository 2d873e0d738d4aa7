#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Where a scan is, on one line of a terminal rewritten as it goes: "scan 37 of 00..99, found 07
// 12". Rows written meanwhile to the same terminal first clear the line, so neither cuts into the
// other; the line is cleared at the end. Only for a terminal: the caller decides.
class CScanProgress {
public:
    explicit CScanProgress(FILE* err) : m_pErr(err) {}
    ~CScanProgress() { Clear(); }
    CScanProgress(const CScanProgress&) = delete;
    CScanProgress& operator=(const CScanProgress&) = delete;

    void Show(int address, int nAsked, int nTotal);
    void Found(int address);
    void Clear();

private:
    FILE* m_pErr;
    std::vector<int> m_vecFound;
    size_t m_nShown = 0; // characters on the line now
};
