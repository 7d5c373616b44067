#pragma once

#include "FeatureMessageHandler.h"

#include "ui/RecordOnDemandDialogModel.h"

// Record on demand for one recorder: passes the recorder's keep/discard state and default
// to the dialog and sends the agent's Keep and Discard.
class CRecordOnDemandHandler : public CFeatureMessageHandler, public IRecordOnDemandRequester
{
public:
    CRecordOnDemandHandler(std::uint32_t recorderNumber, CGeneralMessageHandler* owner,
                           std::shared_ptr<CTCPComms> connection);
    ~CRecordOnDemandHandler() override;

    void AttachDialog(CRecordOnDemandDialogModel* dialog) { m_dialog.Attach(dialog, GetRecorderNumber(), this); }
    void DetachDialog() override { m_dialog.Detach(); }

    // The user-interface thread.
    void RequestRecordOnDemand(RecordOnDemand::Action action) override;

private:
    unsigned Run() override { return RunCommandLoop(); }
    void ResetConfiguration() override {}
    bool HandleIDConfig(const IDConfig& config) override;
    bool HandleCommand(const DKACommand& command) override;
    void HandleRecordOnDemandConfig(const RecordOnDemandConfig& config);

    FeatureDialogLink<CRecordOnDemandDialogModel> m_dialog;
    std::uint32_t m_recordOnDemandType = 1;
};
