#pragma once

#include "TextFormat.h"
#include "protocol/Serializable.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

// The pipe-delimited text form ("INI String") and validation of a configuration object.
class ConfigObject
{
public:
    virtual ~ConfigObject() = default;

    // Whether the configured values are complete.
    virtual bool IsValid() const = 0;
    // Reads the text form at text; the number of characters consumed, 0 on failure (logged).
    virtual unsigned ParseIniString(const char* text) = 0;
    // Every value followed by '|', in the order ParseIniString reads them.
    virtual std::string ToIniString() const = 0;
};

// How screen text is compared with a configured text, without regard to case (A-Z only).
namespace TextMatch {
enum Pattern : std::uint32_t
{
    ExactMatch = 1,
    StartsWith = 2,
    EndsWith = 3,
    Contains = 4,
};
} // namespace TextMatch

// Whether found matches wanted by the pattern, without regard to the case of A-Z.
bool MatchText(std::string found, std::uint32_t pattern, std::string wanted);
// The same for texts lowered already (ToLowerAscii): no copies, no allocation.
bool MatchLowered(std::string_view found, std::uint32_t pattern, std::string_view wanted);
// The same, answered from the texts' pair sets where they tell that wanted is not there.
bool MatchLowered(const LoweredText& found, std::uint32_t pattern, const LoweredText& wanted);
std::string GetMatchPatternName(std::uint32_t pattern);
bool IsValidMatchPattern(std::uint32_t pattern);

// Unknown type numbers of the three object families: "<prefix><type> is not valid".
class InvalidConfigTypeException : public std::exception
{
public:
    const char* what() const noexcept override { return m_text.c_str(); }

protected:
    InvalidConfigTypeException(const char* prefix, std::uint32_t type);

private:
    std::string m_text;
};

class InvalidAnnotationTypeException : public InvalidConfigTypeException
{
public:
    explicit InvalidAnnotationTypeException(std::uint32_t type);
};

class InvalidAutoSuppressionMethodException : public InvalidConfigTypeException
{
public:
    explicit InvalidAutoSuppressionMethodException(std::uint32_t type);
};

class InvalidIDDetectionMethodException : public InvalidConfigTypeException
{
public:
    explicit InvalidIDDetectionMethodException(std::uint32_t type);
};

// How the agent enters an annotation value: 1 free text, 2 push buttons.
class AnnotationType : public Serializable, public ConfigObject
{
public:
    std::uint32_t GetType() const { return m_type; }
    bool IsValid() const override;
    virtual std::unique_ptr<AnnotationType> Clone() const = 0;

protected:
    explicit AnnotationType(std::uint32_t type) : m_type(type) {}
    void ReadFields(Reader& in) override { in.Read(m_type); }
    void WriteFields(Writer& out) const override { out.Write(m_type); }

    std::uint32_t m_type;
};

// A trigger on the desktop that asks for the call's recording to be suppressed.
// Types: 1 and 2 window title (2 with a minimum suppression time), 3 child window text,
// 4 browser page.
class AutoSuppressionMethod : public Serializable, public ConfigObject
{
public:
    std::uint32_t GetType() const { return m_type; }
    std::uint32_t GetMinimumSuppressionTime() const { return m_minimumSuppressionTime; }
    // Why the last matching Check fired; kept until the next match.
    const std::string& GetTriggerDescription() const { return m_triggerDescription; }

    // One MESSAGE line describing the configuration.
    virtual void LogConfiguration() const = 0;
    // Inspects the desktop now: is the trigger present?
    virtual bool Check() = 0;
    // A copy with the configured fields; run-time results start empty.
    virtual std::unique_ptr<AutoSuppressionMethod> Clone() const = 0;

protected:
    explicit AutoSuppressionMethod(std::uint32_t type) : m_type(type) {}
    AutoSuppressionMethod(const AutoSuppressionMethod& other)
        : Serializable(other), ConfigObject(other), m_type(other.m_type),
          m_minimumSuppressionTime(other.m_minimumSuppressionTime)
    {
    }
    void ReadFields(Reader& in) override { in.Read(m_type); }
    void WriteFields(Writer& out) const override { out.Write(m_type); }

    std::uint32_t m_type;
    std::uint32_t m_minimumSuppressionTime = 0;
    std::string m_triggerDescription;
    bool m_matched = false;
};

// Finds the agent's identifier on the desktop. Type 1: in a window title.
class IDDetectionMethod : public Serializable, public ConfigObject
{
public:
    std::uint32_t GetType() const { return m_type; }

    virtual void LogConfiguration() const = 0;
    // Searches the desktop now; true when an identifier was found (see GetDetectedID).
    virtual bool DetectID() = 0;
    virtual std::string GetDetectedID() const = 0;
    virtual std::unique_ptr<IDDetectionMethod> Clone() const = 0;

protected:
    explicit IDDetectionMethod(std::uint32_t type) : m_type(type) {}
    void ReadFields(Reader& in) override { in.Read(m_type); }
    void WriteFields(Writer& out) const override { out.Write(m_type); }

    std::uint32_t m_type;
};

// Factories by type number; unknown numbers throw the family's exception.
std::unique_ptr<AnnotationType> CreateAnnotationType(std::uint32_t type);
std::unique_ptr<AutoSuppressionMethod> CreateAutoSuppressionMethod(std::uint32_t type);
std::unique_ptr<IDDetectionMethod> CreateIDDetectionMethod(std::uint32_t type);

// Copies; null gives null.
std::unique_ptr<AutoSuppressionMethod> CopyAutoSuppressionMethod(const AutoSuppressionMethod* method);
std::unique_ptr<IDDetectionMethod> CopyIDDetectionMethod(const IDDetectionMethod* method);
