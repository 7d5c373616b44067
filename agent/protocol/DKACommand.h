#pragma once

#include "Serializable.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The command catalogue. Below 0x10000000: the agent's requests and actions; 0x1000xxxx: from
// the recorder; 0xE000000x: notices that never leave the process. The low 16 bits name the
// feature (0x1000 automatic suppression, 0x2000 annotation, 0x4000 manual suppression,
// 0x8000 record on demand) plus the message within it.
enum DKACommandID : std::uint32_t
{
    DKA_ID = 0x00000001,
    DKA_HEARTBEAT = 0x00000002,
    DKA_CLIENT_SHUTDOWN = 0x00000003,

    DKA_GET_PCI_ID_CONFIG = 0x00001000,
    DKA_GET_PCI_SUPPRESSION_CONFIG = 0x00001001,
    DKA_PCI_SUPPRESS = 0x00001002,
    DKA_GET_ANNOTATION_ID_CONFIG = 0x00002000,
    DKA_GET_ANNOTATION_CONFIG = 0x00002001,
    DKA_ANNOTATE_CALL = 0x00002002,
    DKA_GET_MANUAL_SUPPRESSION_ID_CONFIG = 0x00004000,
    DKA_GET_MANUAL_SUPPRESSION_CONFIG = 0x00004001,
    DKA_MANUAL_SUPPRESS = 0x00004002,
    DKA_GET_RECORD_ON_DEMAND_ID_CONFIG = 0x00008000,
    DKA_GET_RECORD_ON_DEMAND_CONFIG = 0x00008001,
    DKA_RECORD_ON_DEMAND = 0x00008002,

    DKA_SERVER_SHUTDOWN = 0x10000000,
    DKA_TASKS = 0x10000001,
    DKA_TASKS_UPDATED = 0x10000002,
    DKA_CALL_STATE = 0x10000003,
    DKA_STATE_TIMEOUT = 0x10000004,

    DKA_PCI_ID_CONFIG = 0x10001000,
    DKA_PCI_SUPPRESSION_CONFIG = 0x10001001,
    DKA_PCI_ID_CONFIG_UPDATED = 0x10001002,
    DKA_PCI_SUPPRESSION_CONFIG_UPDATED = 0x10001003,
    DKA_ANNOTATION_ID_CONFIG = 0x10002000,
    DKA_ANNOTATION_CONFIG = 0x10002001,
    DKA_ANNOTATION_ID_CONFIG_UPDATED = 0x10002002,
    DKA_ANNOTATION_CONFIG_UPDATED = 0x10002003,
    DKA_MANUAL_SUPPRESSION_ID_CONFIG = 0x10004000,
    DKA_MANUAL_SUPPRESSION_CONFIG = 0x10004001,
    DKA_MANUAL_SUPPRESSION_ID_CONFIG_UPDATED = 0x10004002,
    DKA_MANUAL_SUPPRESSION_CONFIG_UPDATED = 0x10004003,
    DKA_RECORD_ON_DEMAND_ID_CONFIG = 0x10008000,
    DKA_RECORD_ON_DEMAND_CONFIG = 0x10008001,
    DKA_RECORD_ON_DEMAND_ID_CONFIG_UPDATED = 0x10008002,
    DKA_RECORD_ON_DEMAND_CONFIG_UPDATED = 0x10008003,
    DKA_RECORD_ON_DEMAND_STATE = 0x10008004,
    DKA_RECORD_ON_DEMAND_DEFAULT_STATE = 0x10008005,

    DKAINT_COMMS_CONNECTION_ESTABLISHED = 0xE0000000,
    DKAINT_COMMS_CONNECTION_LOST = 0xE0000001,
};

// A message to or from a recorder: the 8-byte header {command ID, payload length} and,
// in derived classes, the payload. The payload length sent is always GetSize() - 8.
class DKACommand : public Serializable
{
public:
    explicit DKACommand(std::uint32_t commandID = 0) : m_commandID(commandID) {}

    std::uint32_t GetCommandID() const { return m_commandID; }
    // As read from a received header; not used otherwise.
    std::uint32_t GetPayloadLength() const { return m_payloadLength; }

    std::uint32_t GetSize() const override { return HeaderSize; }
    // The fields as one line for log messages; empty for a header-only command.
    virtual std::string ToString() const { return {}; }

    static constexpr std::uint32_t HeaderSize = 8;

protected:
    void ReadFields(Reader& in) override;
    void WriteFields(Writer& out) const override;

private:
    std::uint32_t m_commandID;
    std::uint32_t m_payloadLength = 0;
};

// Received commands are filled once and then shared read-only between threads.
using DKACommandPtr = std::shared_ptr<const DKACommand>;

// The catalogue name of a command ID, or "Unknown (<id>)".
std::string GetCommandName(std::uint32_t commandID);

// A new, empty command of the class the catalogue gives for the ID, ready for Deserialize.
// Throws std::runtime_error for an ID that is not in the catalogue.
std::shared_ptr<DKACommand> CreateCommand(std::uint32_t commandID);

// Every command ID of the catalogue, in catalogue order.
std::vector<std::uint32_t> GetCatalogueIDs();
