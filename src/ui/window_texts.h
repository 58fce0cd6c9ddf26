// The window's own texts from the string table.
#pragma once

#include "ui/window_controls.h"

namespace repair {

// The title, the column headers and the stop question, each the string file's text or the
// key's built-in default. Reads the string table: UI thread, after it was loaded.
WindowTexts LookupWindowTexts();

}  // namespace repair
