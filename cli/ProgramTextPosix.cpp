#include "cli/ProgramText.h"

#include <algorithm>

#include "cli/OutputFile.h"

// Terminals, files and pipes all take the UTF-8 bytes as they are: nothing to relay.
class CProgramText::CConsoleRelay {};

CProgramText::CProgramText(int argc, char** argv)
    : m_bErrTerminal(IsTerminal(stderr)),
      m_strings(argv + std::min(argc, 1), argv + std::max(argc, 0)) {
    m_args.assign(m_strings.begin(), m_strings.end());
}

CProgramText::~CProgramText() = default;
