#include "AnnotationDialogModel.h"

#include "Log.h"

namespace {

std::uint32_t InputType(const FieldDetails& field)
{
    const AnnotationType* type = field.GetAnnotationType();
    return type ? type->GetType() : 0;
}

// The field's input when it is of type T and carries T's input type code.
template <typename T>
const T* Input(const FieldDetails& field, std::uint32_t inputType)
{
    return InputType(field) == inputType ? dynamic_cast<const T*>(field.GetAnnotationType()) : nullptr;
}

} // namespace

CAnnotationDialogModel::~CAnnotationDialogModel()
{
    DetachHandlers();
}

void CAnnotationDialogModel::SetAnnotationEnabled(unsigned recorder, bool enabled)
{
    RecorderStatusTable* table = GetStatusTable();
    if (table == nullptr)
        return;
    if (!IsValidRecorder(recorder)) {
        AGENT_LOG(kzb::log::Level::Error, "Recorder %lu SetAnnotationEnabled() Recorder ID invalid\n",
                static_cast<unsigned long>(recorder));
        return;
    }
    std::lock_guard lock(m_mutex);
    if (table->Get(recorder, &RecorderStatus::annotationEnabled) == enabled)
        return;
    table->Set(recorder, &RecorderStatus::annotationEnabled, enabled);
    if (!enabled && m_configurations.erase(recorder) != 0)
        m_configurationsChanged = true;
}

void CAnnotationDialogModel::SetAnnotationStatus(unsigned recorder, std::uint32_t status)
{
    RecorderStatusTable* table = GetStatusTable();
    if (table == nullptr)
        return;
    if (!IsValidRecorder(recorder)) {
        AGENT_LOG(kzb::log::Level::Error, "Recorder %lu SetAnnotationStatus() Recorder ID invalid\n",
                static_cast<unsigned long>(recorder));
        return;
    }
    table->Set(recorder, &RecorderStatus::annotationStatus, status);
}

void CAnnotationDialogModel::SetAnnotationConfiguration(unsigned recorder, const std::vector<FieldDetails>& fields)
{
    RecorderStatusTable* table = GetStatusTable();
    if (table == nullptr)
        return;
    if (!IsValidRecorder(recorder)) {
        AGENT_LOG(kzb::log::Level::Error, "Recorder %lu SetAnnotationConfiguration() Recorder ID invalid\n",
                static_cast<unsigned long>(recorder));
        return;
    }
    std::lock_guard lock(m_mutex);
    if (!table->Get(recorder, &RecorderStatus::annotationEnabled)) {
        AGENT_LOG(kzb::log::Level::Error,
                "Recorder %lu SetAnnotationConfiguration() Attempt to set annotation configuration when annotation "
                "not enabled\n",
                static_cast<unsigned long>(recorder));
        return;
    }
    m_configurations[recorder] = fields;
    m_configurationsChanged = true;
    table->Set(recorder, &RecorderStatus::annotationStatus, AnnotationStatus::ConfigurationUnusable);
}

bool CAnnotationDialogModel::UpdateLayout()
{
    RecorderStatusTable* table = GetStatusTable();
    if (table == nullptr)
        return false;
    const bool ready =
        table->AnyAnnotationEnabled() && table->LargestAnnotationStatus() == AnnotationStatus::ConfigurationInForce;
    bool configurationsChanged;
    {
        std::lock_guard lock(m_mutex);
        configurationsChanged = m_configurationsChanged;
        m_configurationsChanged = false;
    }
    // A recorder may send a new configuration while its old one is shown: choose again then too.
    if (ready == m_lastVisible && !(ready && configurationsChanged))
        return false;
    m_lastVisible = ready;
    return ChooseConfiguration();
}

bool CAnnotationDialogModel::ChooseConfiguration()
{
    RecorderStatusTable& table = *GetStatusTable();
    std::unique_lock lock(m_mutex);
    const std::vector<FieldDetails>* chosen = nullptr;
    bool differ = false;
    for (unsigned recorder = 1; recorder <= 2; ++recorder) {
        const auto stored = m_configurations.find(recorder);
        if (!table.HasEntry(recorder) || !table.Get(recorder, &RecorderStatus::annotationEnabled) ||
            stored == m_configurations.end())
            continue;
        if (chosen == nullptr) {
            chosen = &stored->second;
        } else if (!SameAnnotationFields(*chosen, stored->second)) {
            table.Set(recorder, &RecorderStatus::annotationStatus, AnnotationStatus::ConfigurationDiffers);
            chosen = nullptr;
            differ = true;
            break;
        }
    }

    bool changed = false;
    if (chosen == nullptr) {
        changed = m_current.has_value();
        m_current.reset();
    } else if (!m_current || !SameAnnotationFields(*m_current, *chosen)) {
        m_current = *chosen;
        changed = true;
    }
    lock.unlock();

    if (differ)
        AGENT_LOG(kzb::log::Level::Error, "Different annotation configurations for Recorders detected\n");
    return changed;
}

bool CAnnotationDialogModel::SetFreeText(std::uint32_t fieldID, const std::string& text)
{
    if (!m_current)
        return false;
    for (FieldDetails& field : *m_current) {
        const FreeTextEntry* entry = Input<FreeTextEntry>(field, 1);
        if (field.GetFieldID() != fieldID || entry == nullptr)
            continue;
        const std::size_t maxLength = entry->GetMaxLength();
        field.SetValue(maxLength != 0 && text.size() > maxLength ? text.substr(0, maxLength) : text);
        return true;
    }
    return false;
}

bool CAnnotationDialogModel::PressButton(std::uint32_t fieldID, const std::string& label)
{
    if (!m_current)
        return false;
    for (FieldDetails& field : *m_current) {
        const PushButton* buttons = Input<PushButton>(field, 2);
        if (field.GetFieldID() != fieldID || buttons == nullptr)
            continue;
        for (const PushButtonData& button : buttons->GetButtons()) {
            if (button.GetLabel() == label) {
                field.SetValue(button.GetAnnotationText());
                return true;
            }
        }
    }
    return false;
}

bool CAnnotationDialogModel::SetValue(std::uint32_t fieldID, const std::string& value)
{
    if (!m_current)
        return false;
    for (FieldDetails& field : *m_current) {
        if (field.GetFieldID() == fieldID) {
            field.SetValue(value);
            return true;
        }
    }
    return false;
}

void CAnnotationDialogModel::ClearValues()
{
    if (!m_current)
        return;
    for (FieldDetails& field : *m_current)
        field.SetValue({});
}

std::vector<unsigned> CAnnotationDialogModel::Annotate()
{
    std::vector<unsigned> annotated;
    if (!m_current)
        return annotated;
    std::vector<AnnotateField> values;
    for (const FieldDetails& field : *m_current) {
        if (!field.GetValue().empty())
            values.emplace_back(field.GetFieldID(), field.GetValue());
    }
    if (!values.empty()) {
        ForEachHandler([&](unsigned recorder, IAnnotationRequester& handler) {
            if (handler.RequestAnnotation(values))
                annotated.push_back(recorder);
        });
    }
    ClearValues();
    return annotated;
}

bool HasInputControl(const FieldDetails& field)
{
    const std::uint32_t type = InputType(field);
    if (type == 1 || type == 2)
        return true;
    AGENT_LOG(kzb::log::Level::Error, "Field ID %lu, Name '%s' Unknown Annotation Type %lu\n",
            static_cast<unsigned long>(field.GetFieldID()), field.GetFieldName().c_str(),
            static_cast<unsigned long>(type));
    return false;
}
