#include "SystemPath.h"

std::filesystem::path PathFromSystemText(const std::string& text)
{
    return std::filesystem::path(text);
}
