#pragma once
// The journal level of a command that talks to scales or watches a folder: the data folder's
// settings decide it as they do for the tray program, and "--log-level errors|max" overrides them
// for one run (an upload journals every frame at "max").

#include "core/Journal/Journal.h"
#include "tool/Args.h"

#include <string>

namespace Plumeria::Tool {

/// Sets the process's journal level: from "--log-level" when `Reader` has it, else from the
/// settings file of the data folder (its default when there is none). False with `Error` set, and
/// the level untouched, when the option's value is not a level.
bool ApplyJournalLevel(const TArgReader& Reader, std::string& Error);

/// The level "--log-level" asks for; false with `Error` set when it is not a level. True and
/// `Given` false when the option is absent.
bool ReadLogLevelOption(const TArgReader& Reader, TLogLevel& Level, bool& Given,
                        std::string& Error);

} // namespace Plumeria::Tool
