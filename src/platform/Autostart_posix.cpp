#include "platform/Autostart.h"

#include "platform/AtomicFile.h"

#include <cstdlib>
#include <fstream>
#include <system_error>

namespace Plumeria {

namespace {

// Relative XDG_CONFIG_HOME values are invalid and must be ignored.
std::optional<std::filesystem::path> AutostartFile()
{
    std::filesystem::path ConfigHome;
    if (const char* Xdg = std::getenv("XDG_CONFIG_HOME"); Xdg && *Xdg == '/') {
        ConfigHome = Xdg;
    } else if (const char* Home = std::getenv("HOME"); Home && *Home == '/') {
        ConfigHome = std::filesystem::path(Home) / ".config";
    } else {
        return std::nullopt;
    }
    return ConfigHome / "autostart" / "PlumeriaBridge.desktop";
}

// The Exec key takes a command line: the path goes in double quotes, inside which the double
// quote, backquote, dollar sign and backslash are escaped with a backslash, and % is doubled (it
// introduces field codes). The result is then a desktop-file string, whose own escapes apply first
// when the file is read.
std::string ExecValue(const std::string& Path)
{
    std::string Quoted = "\"";
    for (const char C : Path) {
        if (C == '"' || C == '`' || C == '$' || C == '\\')
            Quoted += '\\';
        if (C == '%')
            Quoted += '%';
        Quoted += C;
    }
    Quoted += '"';

    std::string Escaped;
    for (const char C : Quoted) {
        switch (C) {
        case '\\':
            Escaped += "\\\\";
            break;
        case '\n':
            Escaped += "\\n";
            break;
        case '\r':
            Escaped += "\\r";
            break;
        case '\t':
            Escaped += "\\t";
            break;
        default:
            Escaped += C;
        }
    }
    return Escaped;
}

std::string UnescapeString(std::string_view Value)
{
    std::string Text;
    for (std::size_t I = 0; I < Value.size(); ++I) {
        if (Value[I] != '\\' || I + 1 == Value.size()) {
            Text += Value[I];
            continue;
        }
        switch (Value[++I]) {
        case 's':
            Text += ' ';
            break;
        case 'n':
            Text += '\n';
            break;
        case 'r':
            Text += '\r';
            break;
        case 't':
            Text += '\t';
            break;
        default:
            Text += Value[I];
        }
    }
    return Text;
}

} // namespace

bool WriteAutostartEntry(const std::filesystem::path& Executable)
{
    const auto File = AutostartFile();
    if (!File || Executable.empty())
        return false;
    std::error_code Error;
    std::filesystem::create_directories(File->parent_path(), Error);
    if (Error)
        return false;
    const std::string Content = "[Desktop Entry]\n"
                                "Type=Application\n"
                                "Name=PlumeriaBridge\n"
                                "Exec=" +
                                ExecValue(Executable.string()) +
                                "\n"
                                "Terminal=false\n"
                                "X-GNOME-Autostart-enabled=true\n";
    try {
        WriteFileAtomically(*File, Content);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

bool RemoveAutostartEntry()
{
    const auto File = AutostartFile();
    if (!File)
        return false;
    std::error_code Error;
    std::filesystem::remove(*File, Error); // false without error when it was not there
    return !Error;
}

std::optional<std::string> ReadAutostartCommand()
{
    const auto File = AutostartFile();
    if (!File)
        return std::nullopt;
    std::ifstream In(*File, std::ios::binary);
    if (!In)
        return std::nullopt;
    std::string Line;
    while (std::getline(In, Line)) {
        if (!Line.empty() && Line.back() == '\r')
            Line.pop_back();
        if (Line.rfind("Exec=", 0) == 0)
            return UnescapeString(std::string_view(Line).substr(5));
    }
    return std::nullopt;
}

} // namespace Plumeria
