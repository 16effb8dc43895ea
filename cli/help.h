// The program's manual text and version line.
#pragma once

namespace plenvo::cli {

// The full manual, as printed by --help.
const char *help_text();

// "plenvo <version>".
const char *version_text();

}  // namespace plenvo::cli
