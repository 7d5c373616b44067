#include "AnnotationTypes.h"

#include "IniText.h"
#include "Log.h"

#include <cstdio>

unsigned FreeTextEntry::ParseIniString(const char* text)
{
    unsigned long maxLength = 0;
    int consumed = 0;
    const int got = std::sscanf(text, "%lu|%n", &maxLength, &consumed);
    const unsigned length = IniScanLength(got, 1, consumed);
    if (length == 0) {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String!\n");
        return 0;
    }
    if (maxLength == 0) {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String! Max Length = %lu\n", maxLength);
        return 0;
    }
    m_maxLength = static_cast<std::uint32_t>(maxLength);
    return length;
}

std::string FreeTextEntry::ToIniString() const
{
    return IniValues({std::to_string(m_type), std::to_string(m_maxLength)});
}

void FreeTextEntry::ReadFields(Reader& in)
{
    AnnotationType::ReadFields(in);
    in.Read(m_maxLength);
}

void FreeTextEntry::WriteFields(Writer& out) const
{
    AnnotationType::WriteFields(out);
    out.Write(m_maxLength);
}

unsigned PushButtonData::ParseIniString(const char* text)
{
    char label[9] = "";
    char annotationText[261] = "";
    int consumed = 0;
    const int got = std::sscanf(text, "%8[^|]|%260[^|]|%n", label, annotationText, &consumed);
    const unsigned length = IniScanLength(got, 2, consumed);
    if (length == 0) {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String!\n");
        return 0;
    }
    if (label[0] == '\0') {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String! Label = '%s'\n", label);
        return 0;
    }
    if (annotationText[0] == '\0') {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String! Annotation Text = '%s'\n", annotationText);
        return 0;
    }
    m_label = label;
    m_annotationText = annotationText;
    return length;
}

std::string PushButtonData::ToIniString() const
{
    return IniValues({m_label, m_annotationText});
}

void PushButtonData::ReadFields(Reader& in)
{
    in.ReadString(m_label, LabelSize);
    in.ReadString(m_annotationText, AnnotationTextSize);
}

void PushButtonData::WriteFields(Writer& out) const
{
    out.WriteString(m_label, LabelSize);
    out.WriteString(m_annotationText, AnnotationTextSize);
}

std::uint32_t PushButton::GetSize() const
{
    return 8 + static_cast<std::uint32_t>(m_buttons.size()) * PushButtonData{}.GetSize();
}

bool PushButton::IsValid() const
{
    if (m_buttons.empty())
        return false;
    for (const PushButtonData& button : m_buttons) {
        if (!button.IsValid())
            return false;
    }
    return true;
}

unsigned PushButton::ParseIniString(const char* text)
{
    unsigned long count = 0;
    int consumed = 0;
    const int got = std::sscanf(text, "%lu|%n", &count, &consumed);
    unsigned length = IniScanLength(got, 1, consumed);
    if (length == 0) {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String!\n");
        return 0;
    }
    if (count < 1 || count > 5) {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String! Number of Buttons = %lu\n", count);
        return 0;
    }
    for (unsigned long i = 0; i < count; ++i) {
        PushButtonData button;
        const unsigned buttonLength = button.ParseIniString(text + length);
        if (buttonLength == 0)
            return 0;
        m_buttons.push_back(std::move(button));
        length += buttonLength;
    }
    return length;
}

std::string PushButton::ToIniString() const
{
    std::string text = IniValues({std::to_string(m_type), std::to_string(m_buttons.size())});
    for (const PushButtonData& button : m_buttons)
        text += button.ToIniString();
    return text;
}

void PushButton::ReadFields(Reader& in)
{
    AnnotationType::ReadFields(in);
    m_buttons.clear();
    in.ReadList(m_buttons);
}

void PushButton::WriteFields(Writer& out) const
{
    AnnotationType::WriteFields(out);
    out.WriteList(m_buttons);
}

FieldDetails::FieldDetails(std::uint32_t fieldID, std::string fieldName, std::unique_ptr<AnnotationType> annotationType)
    : m_fieldID(fieldID), m_fieldName(std::move(fieldName)), m_annotationType(std::move(annotationType))
{
}

FieldDetails::FieldDetails(const FieldDetails& other)
    : Serializable(other), ConfigObject(other), m_fieldID(other.m_fieldID), m_fieldName(other.m_fieldName),
      m_annotationType(other.m_annotationType ? other.m_annotationType->Clone() : nullptr)
{
}

FieldDetails& FieldDetails::operator=(const FieldDetails& other)
{
    if (this != &other)
        *this = FieldDetails(other);
    return *this;
}

bool FieldDetails::IsValidFieldID(unsigned long fieldID)
{
    return fieldID == 95 || fieldID == 96 || (fieldID >= 1000 && fieldID <= 1086);
}

std::uint32_t FieldDetails::GetSize() const
{
    return 4 + FieldNameSize + (m_annotationType ? m_annotationType->GetSize() : 0);
}

bool FieldDetails::IsValid() const
{
    return IsValidFieldID(m_fieldID) && !m_fieldName.empty() && m_annotationType && m_annotationType->IsValid();
}

unsigned FieldDetails::ParseIniString(const char* text)
{
    unsigned long fieldID = 0;
    char fieldName[21] = "";
    int consumed = 0;
    const int got = std::sscanf(text, "%lu|%20[^|]|%n", &fieldID, fieldName, &consumed);
    unsigned length = IniScanLength(got, 2, consumed);
    if (length == 0) {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String!\n");
        return 0;
    }
    if (!IsValidFieldID(fieldID)) {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String! Field ID = %lu\n", fieldID);
        return 0;
    }
    if (fieldName[0] == '\0') {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String! Field Name = '%s'\n", fieldName);
        return 0;
    }
    m_fieldID = static_cast<std::uint32_t>(fieldID);
    m_fieldName = fieldName;

    unsigned long type = 0;
    consumed = 0;
    const int gotType = std::sscanf(text + length, "%lu|%n", &type, &consumed);
    const unsigned typeLength = IniScanLength(gotType, 1, consumed);
    if (typeLength == 0) {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String!\n");
        return 0;
    }
    if (type < 1 || type > 2) {
        AGENT_LOG(kzb::log::Error, "Failed to Parse INI String! Annotation Type = %lu\n", type);
        return 0;
    }
    length += typeLength;

    auto annotationType = CreateAnnotationType(static_cast<std::uint32_t>(type));
    const unsigned inputLength = annotationType->ParseIniString(text + length);
    if (inputLength == 0)
        return 0;
    m_annotationType = std::move(annotationType);
    return length + inputLength;
}

std::string FieldDetails::ToIniString() const
{
    return IniValues({std::to_string(m_fieldID), m_fieldName}) +
           (m_annotationType ? m_annotationType->ToIniString() : std::string());
}

void FieldDetails::ReadFields(Reader& in)
{
    in.Read(m_fieldID);
    in.ReadString(m_fieldName, FieldNameSize);
    m_annotationType = CreateAnnotationType(in.PeekUInt32());
    in.ReadObject(m_annotationType.get());
}

void FieldDetails::WriteFields(Writer& out) const
{
    out.Write(m_fieldID);
    out.WriteString(m_fieldName, FieldNameSize);
    out.WriteObject(m_annotationType.get());
}

namespace {

bool SameInput(const AnnotationType* left, const AnnotationType* right)
{
    if (left == nullptr || right == nullptr || left->GetType() != right->GetType())
        return false;
    if (const auto* text = dynamic_cast<const FreeTextEntry*>(left))
        return text->GetMaxLength() == static_cast<const FreeTextEntry*>(right)->GetMaxLength();
    if (const auto* buttons = dynamic_cast<const PushButton*>(left)) {
        const auto& mine = buttons->GetButtons();
        const auto& theirs = static_cast<const PushButton*>(right)->GetButtons();
        if (mine.size() != theirs.size())
            return false;
        for (std::size_t i = 0; i < mine.size(); ++i) {
            if (mine[i].GetLabel() != theirs[i].GetLabel() ||
                mine[i].GetAnnotationText() != theirs[i].GetAnnotationText())
                return false;
        }
        return true;
    }
    return false;
}

} // namespace

bool SameAnnotationFields(const std::vector<FieldDetails>& left, const std::vector<FieldDetails>& right)
{
    if (left.size() != right.size())
        return false;
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (left[i].GetFieldID() != right[i].GetFieldID() || left[i].GetFieldName() != right[i].GetFieldName() ||
            !SameInput(left[i].GetAnnotationType(), right[i].GetAnnotationType()))
            return false;
    }
    return true;
}
