#include "tool/JournalLevel.h"

#include "core/Journal/Journal.h"
#include "core/Settings/Settings.h"
#include "core/Text/Text.h"

namespace Plumeria::Tool {

bool ReadLogLevelOption(const TArgReader& Reader, TLogLevel& Level, bool& Given, std::string& Error)
{
    Given = false;
    const auto Text = Reader.Value("log-level");
    if (!Text)
        return true;
    // An empty value would read as "max": on the command line it is a mistake, not a choice.
    TLogLevel Parsed = TLogLevel::llMaximum;
    if (TrimView(*Text).empty() || !TryParseLogLevel(*Text, Parsed)) {
        Error = "--log-level must be errors or max, not '" + *Text + "'";
        return false;
    }
    Level = Parsed;
    Given = true;
    return true;
}

bool ApplyJournalLevel(const TArgReader& Reader, std::string& Error)
{
    TLogLevel Level = TLogLevel::llMaximum;
    bool Given = false;
    if (!ReadLogLevelOption(Reader, Level, Given, Error))
        return false;
    if (!Given) {
        TLoaderSettings Settings;
        Settings.Load();
        Level = Settings.LogLevel;
    }
    SetLogLevel(Level);
    return true;
}

} // namespace Plumeria::Tool
