#pragma once

#include "FeatureMessageHandler.h"

#include "ui/ManualSuppressionDialogModel.h"

// Manual audio suppression for one recorder: tells the dialog whether the recorder enables
// it and sends the agent's Start and Stop.
class CManualSuppressionHandler : public CFeatureMessageHandler, public IManualSuppressionRequester
{
public:
    CManualSuppressionHandler(std::uint32_t recorderNumber, CGeneralMessageHandler* owner,
                              std::shared_ptr<CTCPComms> connection);
    ~CManualSuppressionHandler() override;

    void AttachDialog(CManualSuppressionDialogModel* dialog) { m_dialog.Attach(dialog, GetRecorderNumber(), this); }
    void DetachDialog() override { m_dialog.Detach(); }

    // The user-interface thread.
    void RequestManualSuppression(Suppression::Action action) override;

private:
    unsigned Run() override { return RunCommandLoop(); }
    void ResetConfiguration() override {}
    bool HandleIDConfig(const IDConfig& config) override;
    bool HandleCommand(const DKACommand& command) override;
    void SetEnabled(std::uint32_t state);

    FeatureDialogLink<CManualSuppressionDialogModel> m_dialog;
};
