#include "ConfigObject.h"

#include "AnnotationTypes.h"
#include "BrowserHTMLMethod.h"
#include "DetermineIDFromWindowTitle.h"
#include "WindowTitleMethod.h"

bool MatchText(std::string found, std::uint32_t pattern, std::string wanted)
{
    return MatchLowered(ToLowerAscii(std::move(found)), pattern, ToLowerAscii(std::move(wanted)));
}

bool MatchLowered(std::string_view found, std::uint32_t pattern, std::string_view wanted)
{
    switch (pattern) {
    case TextMatch::ExactMatch: return found == wanted;
    case TextMatch::StartsWith: return found.starts_with(wanted);
    case TextMatch::EndsWith: return found.ends_with(wanted);
    case TextMatch::Contains: return found.find(wanted) != std::string_view::npos;
    default: return false;
    }
}

bool MatchLowered(const LoweredText& found, std::uint32_t pattern, const LoweredText& wanted)
{
    // Every pattern matches only where wanted is within found.
    return found.MayHold(wanted) && MatchLowered(found.Text(), pattern, wanted.Text());
}

std::string GetMatchPatternName(std::uint32_t pattern)
{
    switch (pattern) {
    case TextMatch::ExactMatch: return "exact match";
    case TextMatch::StartsWith: return "starts with";
    case TextMatch::EndsWith: return "ends with";
    case TextMatch::Contains: return "contains";
    default: return "Unknown text match pattern type.";
    }
}

bool IsValidMatchPattern(std::uint32_t pattern)
{
    return pattern >= TextMatch::ExactMatch && pattern <= TextMatch::Contains;
}

InvalidConfigTypeException::InvalidConfigTypeException(const char* prefix, std::uint32_t type)
    : m_text(prefix + std::to_string(type) + " is not valid")
{
}

InvalidAnnotationTypeException::InvalidAnnotationTypeException(std::uint32_t type)
    : InvalidConfigTypeException("Annotation Type ", type)
{
}

InvalidAutoSuppressionMethodException::InvalidAutoSuppressionMethodException(std::uint32_t type)
    : InvalidConfigTypeException("Auto Suppression Method Type ", type)
{
}

InvalidIDDetectionMethodException::InvalidIDDetectionMethodException(std::uint32_t type)
    : InvalidConfigTypeException("ID Detection Method Type ", type)
{
}

bool AnnotationType::IsValid() const
{
    const auto type = static_cast<std::int32_t>(m_type);
    return type >= 1 && type <= 2;
}

std::unique_ptr<AnnotationType> CreateAnnotationType(std::uint32_t type)
{
    switch (type) {
    case 1: return std::make_unique<FreeTextEntry>();
    case 2: return std::make_unique<PushButton>();
    default: throw InvalidAnnotationTypeException(type);
    }
}

std::unique_ptr<AutoSuppressionMethod> CreateAutoSuppressionMethod(std::uint32_t type)
{
    switch (type) {
    case 1:
    case 2: return std::make_unique<WindowTitleMethod>(type);
    case 3: return std::make_unique<SubWindowTitleMethod>();
    case 4: return std::make_unique<BrowserHTMLMethod>();
    default: throw InvalidAutoSuppressionMethodException(type);
    }
}

std::unique_ptr<AutoSuppressionMethod> CopyAutoSuppressionMethod(const AutoSuppressionMethod* method)
{
    if (method == nullptr)
        return nullptr;
    if (method->GetType() < 1 || method->GetType() > 4)
        throw InvalidAutoSuppressionMethodException(method->GetType());
    return method->Clone();
}

std::unique_ptr<IDDetectionMethod> CreateIDDetectionMethod(std::uint32_t type)
{
    if (type != 1)
        throw InvalidIDDetectionMethodException(type);
    return std::make_unique<DetermineIDFromWindowTitle>();
}

std::unique_ptr<IDDetectionMethod> CopyIDDetectionMethod(const IDDetectionMethod* method)
{
    if (method == nullptr)
        return nullptr;
    if (method->GetType() != 1)
        throw InvalidIDDetectionMethodException(method->GetType());
    return method->Clone();
}
