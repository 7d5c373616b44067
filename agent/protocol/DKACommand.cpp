#include "DKACommand.h"

void DKACommand::ReadFields(Reader& in)
{
    in.Read(m_commandID);
    in.Read(m_payloadLength);
}

void DKACommand::WriteFields(Writer& out) const
{
    out.Write(m_commandID);
    out.Write(GetSize() - HeaderSize);
}
