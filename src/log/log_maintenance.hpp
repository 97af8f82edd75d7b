#pragma once

#include <string>

// Empties the log, creating it when it is missing. A log that cannot be
// opened is left as it was, silently: the caller has nothing to add.
void truncate_log(const std::string& path);
