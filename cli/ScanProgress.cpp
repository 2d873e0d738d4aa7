#include "cli/ScanProgress.h"

#include "protocol/Address.h"

namespace {

// The line stays shorter than a narrow terminal, which would wrap it out of reach of "\r": the
// last few meters found are named, the rest counted.
constexpr size_t kNamedFound = 8;

} // namespace

void CScanProgress::Show(int address, int nAsked, int nTotal) {
    std::string line = "scan " + FormatAddress(address) + " (" + std::to_string(nAsked) + " of " +
                       std::to_string(nTotal) + ")";
    if (m_vecFound.empty()) {
        line += ", none found yet";
    } else {
        line += ", found " + std::to_string(m_vecFound.size()) + ":";
        const size_t first = m_vecFound.size() > kNamedFound ? m_vecFound.size() - kNamedFound : 0;
        line += first > 0 ? " ..." : "";
        for (size_t i = first; i < m_vecFound.size(); ++i) {
            line += " " + FormatAddress(m_vecFound[i]);
        }
    }
    // Spaces over what the longer line before left; no escape sequences, which not every console
    // understands.
    const size_t nPad = m_nShown > line.size() ? m_nShown - line.size() : 0;
    std::fprintf(m_pErr, "\r%s%s", line.c_str(), std::string(nPad, ' ').c_str());
    std::fflush(m_pErr);
    m_nShown = line.size();
}

void CScanProgress::Found(int address) {
    m_vecFound.push_back(address);
}

void CScanProgress::Clear() {
    if (m_nShown == 0) {
        return;
    }
    std::fprintf(m_pErr, "\r%s\r", std::string(m_nShown, ' ').c_str());
    std::fflush(m_pErr);
    m_nShown = 0;
}
