#pragma once

#include "ConfigObject.h"

#include <vector>

// Free text of at most maxLength characters.
class FreeTextEntry : public AnnotationType
{
public:
    explicit FreeTextEntry(std::uint32_t maxLength = 0) : AnnotationType(1), m_maxLength(maxLength) {}

    std::uint32_t GetMaxLength() const { return m_maxLength; }

    std::uint32_t GetSize() const override { return 8; }
    bool IsValid() const override { return AnnotationType::IsValid() && m_maxLength > 0; }
    unsigned ParseIniString(const char* text) override;
    std::string ToIniString() const override;
    std::unique_ptr<AnnotationType> Clone() const override { return std::make_unique<FreeTextEntry>(*this); }

protected:
    void ReadFields(Reader& in) override;
    void WriteFields(Writer& out) const override;

private:
    std::uint32_t m_maxLength;
};

// One button: its label and the value the field takes when it is pressed.
class PushButtonData : public Serializable, public ConfigObject
{
public:
    static constexpr std::size_t LabelSize = 9;
    static constexpr std::size_t AnnotationTextSize = 261;

    PushButtonData(std::string label = {}, std::string annotationText = {})
        : m_label(std::move(label)), m_annotationText(std::move(annotationText))
    {
    }

    const std::string& GetLabel() const { return m_label; }
    const std::string& GetAnnotationText() const { return m_annotationText; }

    std::uint32_t GetSize() const override { return LabelSize + AnnotationTextSize; }
    bool IsValid() const override { return !m_label.empty() && !m_annotationText.empty(); }
    unsigned ParseIniString(const char* text) override;
    std::string ToIniString() const override;

protected:
    void ReadFields(Reader& in) override;
    void WriteFields(Writer& out) const override;

private:
    std::string m_label;
    std::string m_annotationText;
};

// A choice among one to five buttons.
class PushButton : public AnnotationType
{
public:
    explicit PushButton(std::vector<PushButtonData> buttons = {}) : AnnotationType(2), m_buttons(std::move(buttons)) {}

    const std::vector<PushButtonData>& GetButtons() const { return m_buttons; }

    std::uint32_t GetSize() const override;
    bool IsValid() const override;
    unsigned ParseIniString(const char* text) override;
    std::string ToIniString() const override;
    std::unique_ptr<AnnotationType> Clone() const override { return std::make_unique<PushButton>(*this); }

protected:
    void ReadFields(Reader& in) override;
    void WriteFields(Writer& out) const override;

private:
    std::vector<PushButtonData> m_buttons;
};

// One annotation field: the recorder's field number, its caption and how the value is
// entered. The entered value is the agent's and never travels in this record.
class FieldDetails : public Serializable, public ConfigObject
{
public:
    static constexpr std::size_t FieldNameSize = 21;

    FieldDetails(std::uint32_t fieldID = 1, std::string fieldName = {},
                 std::unique_ptr<AnnotationType> annotationType = nullptr);
    // Copies the configuration; the copy has no value yet.
    FieldDetails(const FieldDetails& other);
    FieldDetails& operator=(const FieldDetails& other);
    FieldDetails(FieldDetails&&) = default;
    FieldDetails& operator=(FieldDetails&&) = default;

    std::uint32_t GetFieldID() const { return m_fieldID; }
    const std::string& GetFieldName() const { return m_fieldName; }
    const AnnotationType* GetAnnotationType() const { return m_annotationType.get(); }
    const std::string& GetValue() const { return m_value; }
    void SetValue(std::string value) { m_value = std::move(value); }

    static bool IsValidFieldID(unsigned long fieldID);

    std::uint32_t GetSize() const override;
    bool IsValid() const override;
    unsigned ParseIniString(const char* text) override;
    std::string ToIniString() const override;

protected:
    void ReadFields(Reader& in) override;
    void WriteFields(Writer& out) const override;

private:
    std::uint32_t m_fieldID;
    std::string m_fieldName;
    std::unique_ptr<AnnotationType> m_annotationType;
    std::string m_value;
};

// Same fields, captions and input types in the same order; entered values do not count.
bool SameAnnotationFields(const std::vector<FieldDetails>& left, const std::vector<FieldDetails>& right);
