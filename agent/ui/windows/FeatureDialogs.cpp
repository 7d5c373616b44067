#include "FeatureDialogs.h"

#include "Config/AnnotationTypes.h"
#include "ui/Strings.h"
#include "ui/resource.h"

namespace kzb::ui {

namespace {

// Field controls: a row of 25 pixels per field, labels 90 wide, inputs from x = 105.
constexpr int RowHeight = 25;
constexpr int FieldHeight = 20;
constexpr int LabelLeft = 10;
constexpr int LabelWidth = 90;
constexpr int InputLeft = 105;
constexpr int EditWidth = 345;
constexpr int FieldButtonWidth = 65;
constexpr int FieldButtonStep = 69;

} // namespace

// ---------------------------------------------------------------- annotation

CAnnotationDialog::CAnnotationDialog(CAnnotationDialogModel& model)
    : CFeatureDialog(IDD_ANNOTATIONDIALOG, pane::AnnotationWidth), m_model(model)
{
}

CAnnotationDialog::~CAnnotationDialog()
{
    Destroy();
    if (m_font != nullptr)
        ::DeleteObject(m_font);
}

bool CAnnotationDialog::OnInitDialog()
{
    CFeatureDialog::OnInitDialog();
    m_font = CreateDialogFont();
    SetFontOfAll(Handle(), m_font);
    HWND annotate = Item(IDC_ANNOTATE_CALL);
    SetButtonImage(annotate, IDB_ANNOTATE);
    AddTooltip(annotate, strings::AnnotateCallTip);
    SetText(Item(IDC_ANNOTATION_GROUP), strings::CallAnnotationGroup);
    return true;
}

bool CAnnotationDialog::Visible() const
{
    const std::vector<FieldDetails>* current = m_model.Current();
    return current != nullptr && !current->empty();
}

bool CAnnotationDialog::UpdateLayout()
{
    if (!m_model.UpdateLayout())
        return false;
    RemoveControls();
    if (m_model.Current() != nullptr)
        BuildControls();
    return true;
}

void CAnnotationDialog::RemoveControls()
{
    for (HWND control : m_controls)
        ::DestroyWindow(control);
    m_controls.clear();
    m_editFields.clear();
    m_buttonFields.clear();
    m_buttonTexts.clear();
    m_buttonSiblings.clear();
    m_buttonCount = m_editCount = m_labelCount = 0;
    m_contentHeight = 0;
    if (Handle() != nullptr)
        ::ShowWindow(Item(IDC_ANNOTATE_CALL), SW_HIDE);
}

HWND CAnnotationDialog::AddControl(const char* windowClass, const std::string& text, DWORD style, int id, int x, int y,
                                   int width, int height)
{
    HWND control = ::CreateWindowExA(0, windowClass, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, width, height,
                                     Handle(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), nullptr);
    if (control == nullptr)
        return nullptr;
    ::SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
    m_controls.push_back(control);
    return control;
}

void CAnnotationDialog::BuildControls()
{
    for (const FieldDetails& field : *m_model.Current()) {
        const int y = m_contentHeight;
        AddControl("STATIC", field.GetFieldName(), WS_GROUP | SS_CENTERIMAGE | SS_NOPREFIX,
                   IDC_FIELD_LABEL_FIRST + m_labelCount++, LabelLeft, y + pane::ContentTop, LabelWidth, FieldHeight);
        if (!HasInputControl(field))
            continue;
        const AnnotationType* input = field.GetAnnotationType();
        if (const auto* freeText = dynamic_cast<const FreeTextEntry*>(input)) {
            const int id = IDC_FIELD_EDIT_FIRST + m_editCount++;
            if (HWND edit = AddControl("EDIT", "", WS_BORDER | WS_TABSTOP | WS_GROUP | ES_AUTOHSCROLL, id, InputLeft,
                                       y + pane::ContentTop, EditWidth, FieldHeight)) {
                ::SendMessageA(edit, EM_LIMITTEXT, freeText->GetMaxLength(), 0);
                m_editFields[id] = field.GetFieldID();
            }
        } else if (const auto* buttons = dynamic_cast<const PushButton*>(input)) {
            std::vector<int> ids;
            for (std::size_t i = 0; i < buttons->GetButtons().size(); ++i) {
                const PushButtonData& button = buttons->GetButtons()[i];
                const int id = IDC_FIELD_BUTTON_FIRST + m_buttonCount++;
                const DWORD first = i == 0 ? WS_GROUP | WS_TABSTOP : 0;
                if (AddControl("BUTTON", button.GetLabel(), BS_3STATE | BS_PUSHLIKE | first, id,
                               InputLeft + FieldButtonStep * static_cast<int>(i), y + pane::ContentTop,
                               FieldButtonWidth, FieldHeight) == nullptr)
                    continue;
                m_buttonFields[id] = field.GetFieldID();
                m_buttonTexts[id] = button.GetAnnotationText();
                ids.push_back(id);
            }
            for (int id : ids) {
                std::vector<int>& siblings = m_buttonSiblings[id];
                for (int other : ids) {
                    if (other != id)
                        siblings.push_back(other);
                }
            }
        }
        m_contentHeight += RowHeight;
    }

    FocusFirstInput();
    HWND annotate = Item(IDC_ANNOTATE_CALL);
    const SIZE button = ClientSize(annotate);
    MoveTo(annotate, m_layoutWidth / 2 - button.cx / 2 + pane::ContentLeft, m_contentHeight + pane::ContentTop);
    ::ShowWindow(annotate, SW_SHOWNA);
    m_contentHeight += button.cy;
    PlaceGroupAround(Item(IDC_ANNOTATION_GROUP), m_contentHeight);
}

void CAnnotationDialog::FocusFirstInput()
{
    if (m_controls.size() >= 2)
        ::SetFocus(m_controls[1]);
}

bool CAnnotationDialog::OnButtonClicked(int id)
{
    if (id == IDC_ANNOTATE_CALL) {
        OnAnnotate();
        return true;
    }
    if (id >= IDC_FIELD_BUTTON_FIRST && id < IDC_FIELD_EDIT_FIRST) {
        OnFieldButton(id);
        return true;
    }
    return false;
}

bool CAnnotationDialog::OnCommand(int id, int code, HWND)
{
    if (id >= IDC_FIELD_EDIT_FIRST && id < IDC_FIELD_LABEL_FIRST && code == EN_CHANGE) {
        OnEditChanged(id);
        return true;
    }
    return false;
}

void CAnnotationDialog::OnFieldButton(int id)
{
    const auto field = m_buttonFields.find(id);
    if (field == m_buttonFields.end())
        return;
    HWND button = Item(id);
    if (::SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED) {
        // Unchecked again: the field has no value any more.
        ::SendMessageA(button, BM_SETCHECK, BST_UNCHECKED, 0);
        m_model.SetValue(field->second, {});
        return;
    }
    for (int sibling : m_buttonSiblings[id])
        ::SendMessageA(Item(sibling), BM_SETCHECK, BST_UNCHECKED, 0);
    ::SendMessageA(button, BM_SETCHECK, BST_CHECKED, 0);
    m_model.SetValue(field->second, m_buttonTexts[id]);
}

void CAnnotationDialog::OnEditChanged(int id)
{
    const auto field = m_editFields.find(id);
    if (field != m_editFields.end())
        m_model.SetValue(field->second, WindowText(Item(id)));
}

void CAnnotationDialog::OnAnnotate()
{
    m_model.Annotate();
    for (const auto& [id, fieldID] : m_editFields)
        SetText(Item(id), "");
    for (const auto& [id, fieldID] : m_buttonFields)
        ::SendMessageA(Item(id), BM_SETCHECK, BST_UNCHECKED, 0);
    FocusFirstInput();
    // Clearing the edit boxes reported their (empty) text already; nothing is left.
    m_model.ClearValues();
}

// ---------------------------------------------------------------- manual suppression

CManualSuppressionDialog::CManualSuppressionDialog(CManualSuppressionDialogModel& model)
    : CFeatureDialog(IDD_MANUALSUPPRESSIONDIALOG, pane::ButtonPairWidth), m_model(model)
{
}

bool CManualSuppressionDialog::OnInitDialog()
{
    CFeatureDialog::OnInitDialog();
    HWND start = Item(IDC_SUPPRESSION_START);
    HWND stop = Item(IDC_SUPPRESSION_STOP);
    SetButtonImage(start, IDB_SUPPRESSION_START);
    SetButtonImage(stop, IDB_SUPPRESSION_STOP);
    AddTooltip(start, strings::StartSuppressingTip);
    AddTooltip(stop, strings::StopSuppressingTip);
    SetText(Item(IDC_SUPPRESSION_GROUP), strings::ManualSuppressionGroup);
    return true;
}

bool CManualSuppressionDialog::UpdateLayout()
{
    if (!m_model.UpdateLayout())
        return false;
    LayOutButtonPair(Item(IDC_SUPPRESSION_START), Item(IDC_SUPPRESSION_STOP), 0, Item(IDC_SUPPRESSION_GROUP));
    return true;
}

bool CManualSuppressionDialog::OnButtonClicked(int id)
{
    if (id == IDC_SUPPRESSION_START)
        m_model.Start();
    else if (id == IDC_SUPPRESSION_STOP)
        m_model.Stop();
    else
        return false;
    return true;
}

// ---------------------------------------------------------------- record on demand

CRecordOnDemandDialog::CRecordOnDemandDialog(CRecordOnDemandDialogModel& model)
    : CFeatureDialog(IDD_RECORDONDEMANDDIALOG, pane::ButtonPairWidth), m_model(model)
{
}

bool CRecordOnDemandDialog::OnInitDialog()
{
    CFeatureDialog::OnInitDialog();
    HWND keep = Item(IDC_KEEP);
    HWND discard = Item(IDC_DISCARD);
    SetButtonImage(keep, IDB_KEEP);
    SetButtonImage(discard, IDB_DISCARD);
    AddTooltip(keep, strings::RecordCallTip);
    AddTooltip(discard, strings::DiscardCallTip);
    SetText(Item(IDC_RECORD_ON_DEMAND_GROUP), strings::RecordOnDemandGroup);
    return true;
}

bool CRecordOnDemandDialog::UpdateLayout()
{
    if (!m_model.UpdateLayout())
        return false;
    HWND state = Item(IDC_RECORD_ON_DEMAND_STATE);
    if (state == nullptr)
        return true;
    const SIZE text = ClientSize(state);
    const int buttonHeight = LayOutButtonPair(Item(IDC_KEEP), Item(IDC_DISCARD), text.cx, Item(IDC_RECORD_ON_DEMAND_GROUP));
    // The text stands before the buttons, centred on them.
    MoveTo(state, pane::ContentLeft, buttonHeight / 2 - text.cy / 2 + pane::ContentTop);
    return true;
}

void CRecordOnDemandDialog::UpdateStateText()
{
    HWND state = Item(IDC_RECORD_ON_DEMAND_STATE);
    if (state == nullptr)
        return;
    const std::string text = m_model.StateText();
    if (WindowText(state) != text)
        SetText(state, text);
}

bool CRecordOnDemandDialog::OnButtonClicked(int id)
{
    if (id == IDC_KEEP)
        m_model.Keep();
    else if (id == IDC_DISCARD)
        m_model.Discard();
    else
        return false;
    return true;
}

} // namespace kzb::ui
