#pragma once

#include "ActionMessages.h"
#include "Config/AnnotationTypes.h"
#include "Config/ConfigObject.h"
#include "DKACommand.h"

#include <memory>
#include <vector>

namespace RecordOnDemand {
enum class Type : std::uint32_t
{
    Permanent = 1,
};
enum class Mode : std::uint32_t
{
    Permanent = 1,
    Temporary = 2,
};
std::string GetTypeName(std::uint32_t type);
std::string GetModeName(std::uint32_t mode);
} // namespace RecordOnDemand

// How the agent identifies itself for a feature, and where to find an identifier on screen.
class IDDetectionRule : public Serializable
{
public:
    IDDetectionRule() = default;
    IDDetectionRule(const IDDetectionRule& other);

    std::uint32_t GetIDType() const { return m_idType; }
    const std::vector<std::unique_ptr<IDDetectionMethod>>& GetMethods() const { return m_methods; }
    void SetIDType(std::uint32_t idType) { m_idType = idType; }
    void AddMethod(std::unique_ptr<IDDetectionMethod> method) { m_methods.push_back(std::move(method)); }

    std::uint32_t GetSize() const override;

protected:
    void ReadFields(Reader& in) override;
    void WriteFields(Writer& out) const override;

private:
    std::uint32_t m_idType = 1;
    std::vector<std::unique_ptr<IDDetectionMethod>> m_methods;
};

// When to suppress the recording automatically.
class AutoSuppressionRule : public Serializable
{
public:
    AutoSuppressionRule() = default;
    AutoSuppressionRule(const AutoSuppressionRule& other);

    const std::vector<std::unique_ptr<AutoSuppressionMethod>>& GetMethods() const { return m_methods; }
    void AddMethod(std::unique_ptr<AutoSuppressionMethod> method) { m_methods.push_back(std::move(method)); }

    std::uint32_t GetSize() const override;

protected:
    void ReadFields(Reader& in) override;
    void WriteFields(Writer& out) const override;

private:
    std::vector<std::unique_ptr<AutoSuppressionMethod>> m_methods;
};

// The annotation fields the agent is offered.
class AnnotationRule : public Serializable
{
public:
    explicit AnnotationRule(std::vector<FieldDetails> fields = {}) : m_fields(std::move(fields)) {}

    const std::vector<FieldDetails>& GetFields() const { return m_fields; }

    std::uint32_t GetSize() const override;

protected:
    void ReadFields(Reader& in) override;
    void WriteFields(Writer& out) const override;

private:
    std::vector<FieldDetails> m_fields;
};

// How record on demand works for this agent.
class RecordOnDemandRule : public Serializable
{
public:
    RecordOnDemandRule(std::uint32_t type = 1, std::uint32_t mode = 1) : m_type(type), m_mode(mode) {}

    std::uint32_t GetType() const { return m_type; }
    std::uint32_t GetMode() const { return m_mode; }

    std::uint32_t GetSize() const override { return 8; }

protected:
    void ReadFields(Reader& in) override;
    void WriteFields(Writer& out) const override;

private:
    std::uint32_t m_type;
    std::uint32_t m_mode;
};

// A configuration answer from the recorder: the header and one rule, shared read-only with
// the feature handler that keeps it. Built empty by the factory; Deserialize reads a fresh rule.
template <typename Rule>
class RuleCommand : public DKACommand
{
public:
    explicit RuleCommand(std::uint32_t commandID, std::shared_ptr<const Rule> rule = nullptr)
        : DKACommand(commandID), m_rule(std::move(rule))
    {
    }

    std::shared_ptr<const Rule> GetRule() const { return m_rule; }

    std::uint32_t GetSize() const override { return HeaderSize + (m_rule ? m_rule->GetSize() : 0); }

protected:
    void ReadFields(Reader& in) override
    {
        DKACommand::ReadFields(in);
        auto rule = std::make_shared<Rule>();
        in.ReadObject(rule.get());
        m_rule = std::move(rule);
    }

    void WriteFields(Writer& out) const override
    {
        DKACommand::WriteFields(out);
        if (m_rule)
            out.WriteObject(m_rule.get());
    }

    std::shared_ptr<const Rule> m_rule;
};

class IDConfig : public RuleCommand<IDDetectionRule>
{
public:
    using RuleCommand::RuleCommand;
    std::string ToString() const override;
};

class AutoSuppressionConfig : public RuleCommand<AutoSuppressionRule>
{
public:
    explicit AutoSuppressionConfig(std::shared_ptr<const AutoSuppressionRule> rule = nullptr)
        : RuleCommand(DKA_PCI_SUPPRESSION_CONFIG, std::move(rule))
    {
    }
    std::string ToString() const override;
};

class AnnotationConfig : public RuleCommand<AnnotationRule>
{
public:
    explicit AnnotationConfig(std::shared_ptr<const AnnotationRule> rule = nullptr)
        : RuleCommand(DKA_ANNOTATION_CONFIG, std::move(rule))
    {
    }
    std::string ToString() const override;
};

class RecordOnDemandConfig : public RuleCommand<RecordOnDemandRule>
{
public:
    explicit RecordOnDemandConfig(std::shared_ptr<const RecordOnDemandRule> rule = nullptr)
        : RuleCommand(DKA_RECORD_ON_DEMAND_CONFIG, std::move(rule))
    {
    }
    std::string ToString() const override;
};

// Whether the agent may suppress recording by hand.
class ManualSuppressionConfig : public DKACommand
{
public:
    explicit ManualSuppressionConfig(bool enabled = false)
        : DKACommand(DKA_MANUAL_SUPPRESSION_CONFIG), m_enabled(enabled)
    {
    }

    bool IsEnabled() const { return m_enabled; }

    std::uint32_t GetSize() const override { return HeaderSize + 1; }
    std::string ToString() const override { return m_enabled ? "Enabled = TRUE" : "Enabled = FALSE"; }

protected:
    void ReadFields(Reader& in) override;
    void WriteFields(Writer& out) const override;

private:
    bool m_enabled;
};
