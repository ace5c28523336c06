// Which request headers are rebuilt, from which server variable, in which order.
#pragma once

#include <array>

struct HeaderMapRow {
    const char* headerName;
    const char* variableName;
};

extern const std::array<HeaderMapRow, 50> headerMap;
