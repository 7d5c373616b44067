#pragma once

#include "FeatureDialogModel.h"

#include <cstdint>
#include <mutex>
#include <string>

// The record on demand dialog's state. The setters and UpdateStateText may be called on any
// thread (the handlers', the sessions'); Keep, Discard and the layout on the user-interface
// thread.
class CRecordOnDemandDialogModel : public CFeatureDialogModel<IRecordOnDemandRequester>
{
public:
    explicit CRecordOnDemandDialogModel(RecorderStatusTable* statusTable) : CFeatureDialogModel(statusTable) {}
    ~CRecordOnDemandDialogModel() override { DetachHandlers(); }

    // state: 0 unknown, 1 disabled, 2 enabled.
    void SetRecordOnDemandEnabled(unsigned recorder, std::uint32_t state);
    // These three refresh the state text; numbers other than 1 and 2 store nothing.
    void SetRecordOnDemandMode(unsigned recorder, std::uint32_t mode);
    void SetRecordOnDemandState(unsigned recorder, std::uint32_t action);
    void SetRecordOnDemandDefaultState(unsigned recorder, std::uint32_t action);

    // Recomputes the state text from the table; true when it changed.
    bool UpdateStateText();
    std::string StateText() const;

    // The agent's buttons: every registered handler is asked, in recorder order.
    void Keep();
    void Discard();

    // True when the dialog's visibility changed: it shows while any recorder has it enabled.
    bool UpdateLayout();
    bool Visible() const { return m_lastVisible; }

private:
    template <typename Field>
    void SetAndRefresh(unsigned recorder, Field RecorderStatus::*field, std::uint32_t value);

    // Held while the text is computed too, so that a text from an older table state never
    // replaces a newer one.
    mutable std::mutex m_textMutex;
    std::string m_stateText = "RoD State";

    // User-interface thread only.
    bool m_lastVisible = false;
};
