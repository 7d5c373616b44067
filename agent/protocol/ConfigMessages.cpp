#include "ConfigMessages.h"

namespace {

// A list whose elements are chosen by the type number that opens each one; an unknown
// number throws before anything of the element is consumed.
template <typename Element, typename Create>
void ReadPolymorphicList(Serializable::Reader& in, std::vector<std::unique_ptr<Element>>& list, Create create)
{
    std::uint32_t count = 0;
    in.Read(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        auto element = create(in.PeekUInt32());
        in.ReadObject(element.get());
        list.push_back(std::move(element));
    }
}

template <typename Element>
void WritePolymorphicList(Serializable::Writer& out, const std::vector<std::unique_ptr<Element>>& list)
{
    out.Write(static_cast<std::uint32_t>(list.size()));
    for (const auto& element : list)
        out.WriteObject(element.get());
}

template <typename Element>
std::uint32_t ListSize(const std::vector<std::unique_ptr<Element>>& list)
{
    std::uint32_t size = 4;
    for (const auto& element : list)
        size += element ? element->GetSize() : 0;
    return size;
}

} // namespace

std::string RecordOnDemand::GetTypeName(std::uint32_t type)
{
    return type == static_cast<std::uint32_t>(Type::Permanent) ? "Permanent" : "Unknown RecordOnDemand::Type";
}

std::string RecordOnDemand::GetModeName(std::uint32_t mode)
{
    switch (static_cast<Mode>(mode)) {
    case Mode::Permanent: return "Permanent";
    case Mode::Temporary: return "Temporary";
    default: return "Unknown RecordOnDemand::Mode";
    }
}

IDDetectionRule::IDDetectionRule(const IDDetectionRule& other) : Serializable(other), m_idType(other.m_idType)
{
    for (const auto& method : other.m_methods)
        m_methods.push_back(CopyIDDetectionMethod(method.get()));
}

std::uint32_t IDDetectionRule::GetSize() const
{
    return 4 + ListSize(m_methods);
}

void IDDetectionRule::ReadFields(Reader& in)
{
    in.Read(m_idType);
    ReadPolymorphicList(in, m_methods, &CreateIDDetectionMethod);
}

void IDDetectionRule::WriteFields(Writer& out) const
{
    out.Write(m_idType);
    WritePolymorphicList(out, m_methods);
}

AutoSuppressionRule::AutoSuppressionRule(const AutoSuppressionRule& other) : Serializable(other)
{
    for (const auto& method : other.m_methods)
        m_methods.push_back(CopyAutoSuppressionMethod(method.get()));
}

std::uint32_t AutoSuppressionRule::GetSize() const
{
    return ListSize(m_methods);
}

void AutoSuppressionRule::ReadFields(Reader& in)
{
    ReadPolymorphicList(in, m_methods, &CreateAutoSuppressionMethod);
}

void AutoSuppressionRule::WriteFields(Writer& out) const
{
    WritePolymorphicList(out, m_methods);
}

std::uint32_t AnnotationRule::GetSize() const
{
    std::uint32_t size = 4;
    for (const FieldDetails& field : m_fields)
        size += field.GetSize();
    return size;
}

void AnnotationRule::ReadFields(Reader& in)
{
    in.ReadList(m_fields);
}

void AnnotationRule::WriteFields(Writer& out) const
{
    out.WriteList(m_fields);
}

void RecordOnDemandRule::ReadFields(Reader& in)
{
    in.Read(m_type);
    in.Read(m_mode);
}

void RecordOnDemandRule::WriteFields(Writer& out) const
{
    out.Write(m_type);
    out.Write(m_mode);
}

std::string IDConfig::ToString() const
{
    return m_rule ? "Number of Methods = " + std::to_string(m_rule->GetMethods().size()) : std::string();
}

std::string AutoSuppressionConfig::ToString() const
{
    return m_rule ? "Number of Methods = " + std::to_string(m_rule->GetMethods().size()) : std::string();
}

std::string AnnotationConfig::ToString() const
{
    return m_rule ? "Number of Fields = " + std::to_string(m_rule->GetFields().size()) : std::string();
}

std::string RecordOnDemandConfig::ToString() const
{
    return m_rule ? "Type = " + RecordOnDemand::GetTypeName(m_rule->GetType()) + ", Mode = " +
                        RecordOnDemand::GetModeName(m_rule->GetMode())
                  : std::string();
}

void ManualSuppressionConfig::ReadFields(Reader& in)
{
    DKACommand::ReadFields(in);
    in.Read(m_enabled);
}

void ManualSuppressionConfig::WriteFields(Writer& out) const
{
    DKACommand::WriteFields(out);
    out.Write(m_enabled);
}
