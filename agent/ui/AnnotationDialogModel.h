#pragma once

#include "Config/AnnotationTypes.h"
#include "FeatureDialogModel.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// The annotation dialog's state: the configuration each recorder sent, the one the dialog
// shows and the values the agent entered into it.
//
// The setters are called by the annotation handlers on their threads; everything else on
// the user-interface thread. The shown configuration and its values belong to that thread.
class CAnnotationDialogModel : public CFeatureDialogModel<IAnnotationRequester>
{
public:
    explicit CAnnotationDialogModel(RecorderStatusTable* statusTable) : CFeatureDialogModel(statusTable) {}
    ~CAnnotationDialogModel() override;

    // Turning annotation off forgets the recorder's configuration.
    void SetAnnotationEnabled(unsigned recorder, bool enabled);
    void SetAnnotationStatus(unsigned recorder, std::uint32_t status);
    // Keeps a copy of the recorder's fields and marks them not yet usable (status 1).
    void SetAnnotationConfiguration(unsigned recorder, const std::vector<FieldDetails>& fields);

    // Brings the dialog up to date with the table and the stored configurations: true when
    // the shown configuration changed, so that the window rebuilds its controls from Current().
    bool UpdateLayout();
    // Annotation is enabled and a recorder's configuration is in force.
    bool Visible() const { return m_lastVisible; }
    // The shown configuration with the entered values; null when there is none.
    const std::vector<FieldDetails>* Current() const { return m_current ? &*m_current : nullptr; }

    // The agent's input. False when the shown configuration has no such field.
    // Free text (input type 1), cut to the field's maximum length as its edit box would.
    bool SetFreeText(std::uint32_t fieldID, const std::string& text);
    // A button (input type 2): the field takes the button's annotation text.
    bool PressButton(std::uint32_t fieldID, const std::string& label);
    // The first field with the ID takes the value as it is (the window's controls).
    bool SetValue(std::uint32_t fieldID, const std::string& value);
    void ClearValues();

    // Sends the entered values to every registered handler; returns the recorders whose
    // handler took them. The values are cleared in every case.
    std::vector<unsigned> Annotate();

private:
    // Picks the configuration to show; true when the shown one changed.
    bool ChooseConfiguration();

    std::mutex m_mutex; // m_configurations, m_configurationsChanged
    std::map<unsigned, std::vector<FieldDetails>> m_configurations;
    // A configuration was stored or forgotten since the last choice.
    bool m_configurationsChanged = false;

    // User-interface thread only.
    bool m_lastVisible = false;
    std::optional<std::vector<FieldDetails>> m_current;
};

// Whether the dialog builds a control for the field: free text and buttons. Logs the field
// of any other input type; the window builder calls it for each field of Current().
bool HasInputControl(const FieldDetails& field);
