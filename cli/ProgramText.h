#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The program's text where it meets the system: its arguments as UTF-8, and UTF-8 written to
// stdout and stderr shown as written. The program keeps writing with the C library's streams.
//
// On Linux both hold as they are. On Windows the arguments come from the wide command line (the C
// library's argv is in the ANSI code page), and a stream that is a console is relayed to it with
// WriteConsoleW: a console shows bytes in its own code page, never UTF-8 as such. Files and pipes
// get the UTF-8 bytes as they are.
//
// One object lives for the whole of main; its end hands the last text over.
class CProgramText {
public:
    CProgramText(int argc, char** argv);
    ~CProgramText();
    CProgramText(const CProgramText&) = delete;
    CProgramText& operator=(const CProgramText&) = delete;

    // The arguments after the program's name.
    const std::vector<std::string_view>& Args() const { return m_args; }
    // stderr was a terminal (a console) when the program started: looked at before any relay,
    // which puts a pipe between the program and the console.
    bool ErrorIsTerminal() const { return m_bErrTerminal; }

private:
    class CConsoleRelay;

    bool m_bErrTerminal = false;
    std::vector<std::string> m_strings;
    std::vector<std::string_view> m_args;
    std::unique_ptr<CConsoleRelay> m_pRelay;
};
