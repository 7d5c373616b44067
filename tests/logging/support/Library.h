// The logging library as the system loader sees it.
#pragma once

namespace testing_support {

// An export of the loaded logging library looked up by its plain name (GetProcAddress on
// Windows, dlsym natively); null when the library has no such export.
void* LibraryExport(const char* name);

} // namespace testing_support
