#pragma once

#include "FeatureDialogModel.h"

#include <cstdint>

// The manual suppression dialog's state. SetManualSuppressionEnabled is called by the
// handlers on their threads; everything else on the user-interface thread.
class CManualSuppressionDialogModel : public CFeatureDialogModel<IManualSuppressionRequester>
{
public:
    explicit CManualSuppressionDialogModel(RecorderStatusTable* statusTable) : CFeatureDialogModel(statusTable) {}
    ~CManualSuppressionDialogModel() override { DetachHandlers(); }

    // state: 0 unknown, 1 disabled, 2 enabled.
    void SetManualSuppressionEnabled(unsigned recorder, std::uint32_t state);

    // The agent's buttons: every registered handler is asked, in recorder order.
    void Start();
    void Stop();

    // True when the dialog's visibility changed: it shows while any recorder has it enabled.
    bool UpdateLayout();
    bool Visible() const { return m_lastVisible; }

private:
    bool m_lastVisible = false;
};
