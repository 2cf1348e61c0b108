#pragma once
// What a program sets up before anything else: its command line in UTF-8, a console that shows
// UTF-8 output, and standard descriptors that are sure to be open.

#include <string>
#include <vector>

namespace Plumeria {

/// The arguments after the program name, in UTF-8. Linux: argv as given. Windows: argv holds them
/// in the ANSI code page, which cannot carry every file name (a Cyrillic name on a Western
/// system turns into question marks), so they are taken from the wide command line instead.
std::vector<std::string> CommandLineArguments(int Argc, char** Argv);

/// Makes UTF-8 text printed to a console window show as such (Windows: the console's output code
/// page; nothing to do elsewhere). Output redirected to a file or pipe passes as bytes anyway.
void UseUtf8Console();

/// Makes sure the standard input, output and error descriptors (0 to 2) are open, opening the null
/// device on any that a parent left closed. Otherwise the first file or socket the program opens
/// would take that number, and whatever is printed would go into it. Call first thing in `main`,
/// before any thread exists. Nothing to do on Windows, where sockets and files never take the
/// C library's standard numbers.
void GuardStandardDescriptors();

} // namespace Plumeria
