#include "ActionMessages.h"

std::string Suppression::GetActionName(std::uint32_t action)
{
    switch (action) {
    case Start: return "Start";
    case End: return "End";
    default: return "Unknown Suppression::Action";
    }
}

std::string RecordOnDemand::GetActionName(std::uint32_t action)
{
    switch (action) {
    case NotAvailable: return "NotAvailable";
    case Keep: return "Keep";
    case Discard: return "Discard";
    default: return "Unknown RecordOnDemand::Action";
    }
}

ClientActionMessage::ClientActionMessage(std::uint32_t commandID, std::uint32_t idType, const std::string& id,
                                         std::uint32_t action, ActionNameFunction actionName)
    : DKACommand(commandID), m_action(action), m_clientID(CreateClientID(idType, id)), m_actionName(actionName)
{
}

std::uint32_t ClientActionMessage::GetSize() const
{
    return HeaderSize + 4 + (m_clientID ? m_clientID->GetSize() : 0);
}

std::string ClientActionMessage::ToString() const
{
    std::string text = "Action = " + m_actionName(m_action);
    if (m_clientID)
        text += ", " + m_clientID->ToString();
    return text;
}

void ClientActionMessage::ReadFields(Reader& in)
{
    DKACommand::ReadFields(in);
    in.Read(m_action);
    m_clientID = ReadClientID(in);
}

void ClientActionMessage::WriteFields(Writer& out) const
{
    DKACommand::WriteFields(out);
    out.Write(m_action);
    if (m_clientID)
        out.WriteObject(m_clientID.get());
}

SuppressMessage::SuppressMessage(std::uint32_t idType, const std::string& id, std::uint32_t action)
    : ClientActionMessage(DKA_PCI_SUPPRESS, idType, id, action, &Suppression::GetActionName)
{
}

RecordOnDemandMessage::RecordOnDemandMessage(std::uint32_t idType, const std::string& id, std::uint32_t action)
    : ClientActionMessage(DKA_RECORD_ON_DEMAND, idType, id, action, &RecordOnDemand::GetActionName)
{
}

void AnnotateField::ReadFields(Reader& in)
{
    in.Read(m_fieldID);
    in.ReadString(m_value, ValueSize);
}

void AnnotateField::WriteFields(Writer& out) const
{
    out.Write(m_fieldID);
    out.WriteString(m_value, ValueSize);
}

AnnotateMessage::AnnotateMessage(std::uint32_t idType, std::string id, std::vector<AnnotateField> fields)
    : DKACommand(DKA_ANNOTATE_CALL), m_idType(idType), m_id(std::move(id)), m_fields(std::move(fields))
{
}

std::uint32_t AnnotateMessage::GetSize() const
{
    const auto fieldsSize = static_cast<std::uint32_t>(m_fields.size()) * AnnotateField{}.GetSize();
    return HeaderSize + 4 + 4 + static_cast<std::uint32_t>(GetIDTextSize(m_idType)) + fieldsSize;
}

std::string AnnotateMessage::ToString() const
{
    return "ID Type = " + GetIDTypeName(m_idType) + ", Number of Fields = " + std::to_string(m_fields.size()) +
           ", Client ID = " + m_id;
}

void AnnotateMessage::ReadFields(Reader& in)
{
    DKACommand::ReadFields(in);
    in.Read(m_idType);
    std::uint32_t count = 0;
    in.Read(count);
    in.ReadString(m_id, GetIDTextSize(m_idType));
    m_fields.clear();
    in.ReadObjects(count, m_fields);
}

void AnnotateMessage::WriteFields(Writer& out) const
{
    DKACommand::WriteFields(out);
    out.Write(m_idType);
    out.Write(static_cast<std::uint32_t>(m_fields.size()));
    out.WriteString(m_id, GetIDTextSize(m_idType));
    out.WriteObjects(m_fields);
}
