#include "ActionMessages.h"
#include "ConfigMessages.h"
#include "DKACommand.h"
#include "SessionMessages.h"

#include <array>
#include <stdexcept>

namespace {

using Creator = std::shared_ptr<DKACommand> (*)(std::uint32_t commandID);

template <typename Command>
std::shared_ptr<DKACommand> Create(std::uint32_t commandID)
{
    return std::make_shared<Command>(commandID);
}

template <typename Command>
std::shared_ptr<DKACommand> CreateWithOwnID(std::uint32_t)
{
    return std::make_shared<Command>();
}

struct CatalogueEntry
{
    std::uint32_t id;
    const char* name;
    Creator create;
};

// Every command ID with its name and the class that carries it.
constexpr std::array Catalogue{
    CatalogueEntry{DKA_ID, "DKA_ID", &CreateWithOwnID<ID>},
    CatalogueEntry{DKA_HEARTBEAT, "DKA_HEARTBEAT", &Create<DKACommand>},
    CatalogueEntry{DKA_CLIENT_SHUTDOWN, "DKA_CLIENT_SHUTDOWN", &Create<DKACommand>},

    CatalogueEntry{DKA_GET_PCI_ID_CONFIG, "DKA_GET_PCI_ID_CONFIG", &Create<GetIDConfig>},
    CatalogueEntry{DKA_GET_PCI_SUPPRESSION_CONFIG, "DKA_GET_PCI_SUPPRESSION_CONFIG", &Create<GetTaskConfig>},
    CatalogueEntry{DKA_PCI_SUPPRESS, "DKA_PCI_SUPPRESS", &CreateWithOwnID<SuppressMessage>},
    CatalogueEntry{DKA_GET_ANNOTATION_ID_CONFIG, "DKA_GET_ANNOTATION_ID_CONFIG", &Create<GetIDConfig>},
    CatalogueEntry{DKA_GET_ANNOTATION_CONFIG, "DKA_GET_ANNOTATION_CONFIG", &Create<GetTaskConfig>},
    CatalogueEntry{DKA_ANNOTATE_CALL, "DKA_ANNOTATE_CALL", &CreateWithOwnID<AnnotateMessage>},
    CatalogueEntry{DKA_GET_MANUAL_SUPPRESSION_ID_CONFIG, "DKA_GET_MANUAL_SUPPRESSION_ID_CONFIG", &Create<GetIDConfig>},
    CatalogueEntry{DKA_GET_MANUAL_SUPPRESSION_CONFIG, "DKA_GET_MANUAL_SUPPRESSION_CONFIG", &Create<GetTaskConfig>},
    // Built with the ID its constructor sets; Deserialize then takes the received one.
    CatalogueEntry{DKA_MANUAL_SUPPRESS, "DKA_MANUAL_SUPPRESS", &CreateWithOwnID<SuppressMessage>},
    CatalogueEntry{DKA_GET_RECORD_ON_DEMAND_ID_CONFIG, "DKA_GET_RECORD_ON_DEMAND_ID_CONFIG", &Create<GetIDConfig>},
    CatalogueEntry{DKA_GET_RECORD_ON_DEMAND_CONFIG, "DKA_GET_RECORD_ON_DEMAND_CONFIG", &Create<GetTaskConfig>},
    CatalogueEntry{DKA_RECORD_ON_DEMAND, "DKA_RECORD_ON_DEMAND", &CreateWithOwnID<RecordOnDemandMessage>},

    CatalogueEntry{DKA_SERVER_SHUTDOWN, "DKA_SERVER_SHUTDOWN", &Create<StateMessage>},
    CatalogueEntry{DKA_TASKS, "DKA_TASKS", &CreateWithOwnID<Tasks>},
    CatalogueEntry{DKA_TASKS_UPDATED, "DKA_TASKS_UPDATED", &Create<DKACommand>},
    CatalogueEntry{DKA_CALL_STATE, "DKA_CALL_STATE", &Create<StateMessage>},
    CatalogueEntry{DKA_STATE_TIMEOUT, "DKA_STATE_TIMEOUT", &CreateWithOwnID<StateTimeout>},

    CatalogueEntry{DKA_PCI_ID_CONFIG, "DKA_PCI_ID_CONFIG", &Create<IDConfig>},
    CatalogueEntry{DKA_PCI_SUPPRESSION_CONFIG, "DKA_PCI_SUPPRESSION_CONFIG", &CreateWithOwnID<AutoSuppressionConfig>},
    CatalogueEntry{DKA_PCI_ID_CONFIG_UPDATED, "DKA_PCI_ID_CONFIG_UPDATED", &Create<DKACommand>},
    CatalogueEntry{DKA_PCI_SUPPRESSION_CONFIG_UPDATED, "DKA_PCI_SUPPRESSION_CONFIG_UPDATED", &Create<DKACommand>},
    CatalogueEntry{DKA_ANNOTATION_ID_CONFIG, "DKA_ANNOTATION_ID_CONFIG", &Create<IDConfig>},
    CatalogueEntry{DKA_ANNOTATION_CONFIG, "DKA_ANNOTATION_CONFIG", &CreateWithOwnID<AnnotationConfig>},
    CatalogueEntry{DKA_ANNOTATION_ID_CONFIG_UPDATED, "DKA_ANNOTATION_ID_CONFIG_UPDATED", &Create<DKACommand>},
    CatalogueEntry{DKA_ANNOTATION_CONFIG_UPDATED, "DKA_ANNOTATION_CONFIG_UPDATED", &Create<DKACommand>},
    CatalogueEntry{DKA_MANUAL_SUPPRESSION_ID_CONFIG, "DKA_MANUAL_SUPPRESSION_ID_CONFIG", &Create<IDConfig>},
    CatalogueEntry{DKA_MANUAL_SUPPRESSION_CONFIG, "DKA_MANUAL_SUPPRESSION_CONFIG", &CreateWithOwnID<ManualSuppressionConfig>},
    CatalogueEntry{DKA_MANUAL_SUPPRESSION_ID_CONFIG_UPDATED, "DKA_MANUAL_SUPPRESSION_ID_CONFIG_UPDATED",
                   &Create<DKACommand>},
    CatalogueEntry{DKA_MANUAL_SUPPRESSION_CONFIG_UPDATED, "DKA_MANUAL_SUPPRESSION_CONFIG_UPDATED", &Create<DKACommand>},
    CatalogueEntry{DKA_RECORD_ON_DEMAND_ID_CONFIG, "DKA_RECORD_ON_DEMAND_ID_CONFIG", &Create<IDConfig>},
    CatalogueEntry{DKA_RECORD_ON_DEMAND_CONFIG, "DKA_RECORD_ON_DEMAND_CONFIG", &CreateWithOwnID<RecordOnDemandConfig>},
    CatalogueEntry{DKA_RECORD_ON_DEMAND_ID_CONFIG_UPDATED, "DKA_RECORD_ON_DEMAND_ID_CONFIG_UPDATED",
                   &Create<DKACommand>},
    CatalogueEntry{DKA_RECORD_ON_DEMAND_CONFIG_UPDATED, "DKA_RECORD_ON_DEMAND_CONFIG_UPDATED", &Create<DKACommand>},
    CatalogueEntry{DKA_RECORD_ON_DEMAND_STATE, "DKA_RECORD_ON_DEMAND_STATE", &Create<StateMessage>},
    CatalogueEntry{DKA_RECORD_ON_DEMAND_DEFAULT_STATE, "DKA_RECORD_ON_DEMAND_DEFAULT_STATE", &Create<StateMessage>},

    CatalogueEntry{DKAINT_COMMS_CONNECTION_ESTABLISHED, "DKAINT_COMMS_CONNECTION_ESTABLISHED", &Create<DKACommand>},
    CatalogueEntry{DKAINT_COMMS_CONNECTION_LOST, "DKAINT_COMMS_CONNECTION_LOST", &Create<DKACommand>},
};

const CatalogueEntry* Find(std::uint32_t commandID)
{
    for (const CatalogueEntry& entry : Catalogue) {
        if (entry.id == commandID)
            return &entry;
    }
    return nullptr;
}

} // namespace

std::string GetCommandName(std::uint32_t commandID)
{
    const CatalogueEntry* entry = Find(commandID);
    return entry ? entry->name : "Unknown (" + std::to_string(commandID) + ")";
}

std::shared_ptr<DKACommand> CreateCommand(std::uint32_t commandID)
{
    const CatalogueEntry* entry = Find(commandID);
    if (entry == nullptr)
        throw std::runtime_error("DKA Command Factory - Can't create command for unknown ID: " +
                                 std::to_string(commandID));
    return entry->create(commandID);
}

std::vector<std::uint32_t> GetCatalogueIDs()
{
    std::vector<std::uint32_t> ids;
    for (const CatalogueEntry& entry : Catalogue)
        ids.push_back(entry.id);
    return ids;
}
