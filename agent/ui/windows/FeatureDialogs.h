// The agent's own work in the container: annotating the call, suppressing by hand, and
// keeping or discarding the recording. Each draws the state its model keeps.
#pragma once

#include "FeatureDialog.h"

#include "ui/AnnotationDialogModel.h"
#include "ui/ManualSuppressionDialogModel.h"
#include "ui/RecordOnDemandDialogModel.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kzb::ui {

// The fields the recorders configured, as labels with edit boxes or push buttons, and the
// "Annotate Call" button.
class CAnnotationDialog : public CFeatureDialog
{
public:
    explicit CAnnotationDialog(CAnnotationDialogModel& model);
    ~CAnnotationDialog() override;

    bool UpdateLayout() override;
    // It holds a configuration with at least one field.
    bool Visible() const override;
    bool PreTranslateMessage(MSG& message) override { return IsEnterKey(message); }

protected:
    bool OnInitDialog() override;
    bool OnButtonClicked(int id) override;
    bool OnCommand(int id, int code, HWND control) override;

private:
    void RemoveControls();
    void BuildControls();
    HWND AddControl(const char* windowClass, const std::string& text, DWORD style, int id, int x, int y, int width,
                    int height);
    void FocusFirstInput();
    void OnFieldButton(int id);
    void OnEditChanged(int id);
    void OnAnnotate();

    CAnnotationDialogModel& m_model;
    HFONT m_font = nullptr;
    std::map<int, std::uint32_t> m_editFields;
    std::map<int, std::uint32_t> m_buttonFields;
    std::map<int, std::string> m_buttonTexts;
    std::map<int, std::vector<int>> m_buttonSiblings;
    std::vector<HWND> m_controls;
    int m_buttonCount = 0;
    int m_editCount = 0;
    int m_labelCount = 0;
};

// Start and Stop: the recorders suppress the call's audio, or stop suppressing it.
class CManualSuppressionDialog : public CFeatureDialog
{
public:
    explicit CManualSuppressionDialog(CManualSuppressionDialogModel& model);

    bool UpdateLayout() override;
    bool Visible() const override { return m_model.Visible(); }

protected:
    bool OnInitDialog() override;
    bool OnButtonClicked(int id) override;

private:
    CManualSuppressionDialogModel& m_model;
};

// Keep and Discard, with what will happen to the call.
class CRecordOnDemandDialog : public CFeatureDialog
{
public:
    explicit CRecordOnDemandDialog(CRecordOnDemandDialogModel& model);

    bool UpdateLayout() override;
    bool Visible() const override { return m_model.Visible(); }
    // Shows the model's state text (window thread).
    void UpdateStateText();

protected:
    bool OnInitDialog() override;
    bool OnButtonClicked(int id) override;

private:
    CRecordOnDemandDialogModel& m_model;
};

} // namespace kzb::ui
