// What both converter programs do around their library call: take the
// command line as UTF-8, understand --progress, and report on stderr.
#ifndef CONVERTERMAIN_H
#define CONVERTERMAIN_H

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef _WIN32
#include <filesystem>
#endif

#include "soundconvert.h"

struct CommandLine {
    bool progress = false;
    std::vector<std::string> arguments; // the positional ones
};

// Windows hands the arguments over as wide strings (see the programs'
// wmain); elsewhere they are passed on as they are.
#ifdef _WIN32
using ArgumentChar = wchar_t;

inline std::string Utf8(const wchar_t *argument)
{
    return std::filesystem::path(argument).u8string();
}
#else
using ArgumentChar = char;

inline std::string Utf8(const char *argument)
{
    return argument;
}
#endif

inline CommandLine ParseCommandLine(int argc, ArgumentChar *argv[])
{
    std::vector<std::string> all;
    for (int i = 1; i < argc; ++i)
        all.push_back(Utf8(argv[i]));
    CommandLine line;
    // The option comes before the positional arguments only, so an input
    // named like it can still be given after it.
    line.progress = !all.empty() && all.front() == "--progress";
    line.arguments.assign(all.begin() + (line.progress ? 1 : 0), all.end());
    return line;
}

// Whole per cents on stderr, one a line, when the command line asked.
inline ConvertControl ControlFor(const CommandLine &line)
{
    ConvertControl control;
    if (line.progress)
        control.progress = [](int percent) { std::fprintf(stderr, "%d%%\n", percent); };
    return control;
}

inline void Report(const char *program, const std::string &message)
{
    std::fprintf(stderr, "%s: %s\n", program, message.c_str());
}

inline int ExitStatus(const char *program, bool succeeded, const std::string &error)
{
    if (succeeded)
        return EXIT_SUCCESS;
    Report(program, error);
    return EXIT_FAILURE;
}

#endif
