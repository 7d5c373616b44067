#include "VersionInfoStore.h"

#include <cstring>

void VersionInfoStore::Store(const std::string& text)
{
    if (text.size() + 1 <= VersionSize)
        std::memcpy(m_version, text.c_str(), text.size() + 1);
}
