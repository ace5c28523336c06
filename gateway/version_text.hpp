// The version shown on the information page.
#pragma once

#include <string>

// The FileVersion of the executable at modulePath, at most 255 characters; empty when it
// has none.
std::string readVersionText(const std::string& modulePath);
