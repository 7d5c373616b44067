#pragma once

#include "FeatureMessageHandler.h"

#include "Config/AnnotationTypes.h"
#include "ui/AnnotationDialogModel.h"

#include <vector>

// Call annotation for one recorder: obtains the annotation fields, hands them to the
// annotation dialog, and sends the agent's values.
class CAnnotationHandler : public CFeatureMessageHandler, public IAnnotationRequester
{
public:
    CAnnotationHandler(std::uint32_t recorderNumber, CGeneralMessageHandler* owner,
                       std::shared_ptr<CTCPComms> connection);
    ~CAnnotationHandler() override;

    // Stores the dialog (may be null) and registers with it.
    void AttachDialog(CAnnotationDialogModel* dialog) { m_dialog.Attach(dialog, GetRecorderNumber(), this); }
    void DetachDialog() override { m_dialog.Detach(); }

    // The user-interface thread; true when the values went to the recorder.
    bool RequestAnnotation(const std::vector<AnnotateField>& values) override;

private:
    unsigned Run() override { return RunCommandLoop(); }
    void ResetConfiguration() override;
    void RequestConfig() override;
    bool HandleIDConfig(const IDConfig& config) override;
    bool HandleCommand(const DKACommand& command) override;
    void HandleAnnotationConfig(const AnnotationConfig& config);
    void SetStatus(std::uint32_t status);

    FeatureDialogLink<CAnnotationDialogModel> m_dialog;
    std::vector<FieldDetails> m_fields;
};
