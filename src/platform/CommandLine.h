#pragma once
// A console program's command line in UTF-8, and a console that shows UTF-8 output.

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

} // namespace Plumeria
