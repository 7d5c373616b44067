// The status dialog (the text of problems), the status image and the About box.
#pragma once

#include "FeatureDialog.h"

#include "ui/RecorderStatusTable.h"
#include "ui/StatusImage.h"
#include "ui/StatusText.h"

#include <ctime>
#include <string>

namespace kzb::ui {

// At the bottom of the container: recorders that cannot be reached, configuration errors
// and differences between the recorders, in a 440-pixel word-wrapped text.
class CStatusDialog : public Dialog
{
public:
    explicit CStatusDialog(bool autoSuppressionMessages) : m_report(autoSuppressionMessages) {}
    ~CStatusDialog() override;

    bool Create(HWND parent);
    // Brings the text up to date; true when it changed (the dialog is then resized to it).
    bool UpdateStatus(const RecorderStatusTable& table, const std::string& updateMode, std::time_t now);
    void SetReportDelay(std::uint32_t seconds) { m_report.SetReportDelay(seconds); }
    std::time_t NextDeadline(std::time_t now) const { return m_report.NextDeadline(now); }
    bool HasText() const { return !m_report.Text().empty(); }
    // The Enter key is swallowed.
    bool PreTranslateMessage(MSG& message) override { return IsEnterKey(message); }

protected:
    bool OnInitDialog() override;

private:
    StatusReport m_report;
    HFONT m_font = nullptr;
};

// A 32 x 32 picture of the call state with its name as tooltip, beside the manual
// suppression and record on demand dialogs while either is enabled.
class CStatusImageDialog : public CFeatureDialog
{
public:
    explicit CStatusImageDialog(const RecorderStatusTable* statusTable);

    void UpdateImage();
    // What the picture shows now.
    const StatusImage& Shown() const { return m_shown; }
    bool UpdateLayout() override;
    bool Visible() const override { return m_layout.Visible(); }

protected:
    bool OnInitDialog() override;

private:
    HBITMAP BitmapOf(unsigned bitmapId) const;

    const RecorderStatusTable* m_statusTable;
    StatusImageLayout m_layout;
    struct Image
    {
        unsigned id;
        HBITMAP bitmap;
    };
    std::vector<Image> m_images;
    StatusImage m_shown{0, 0, ""};
};

// The product's name and version; modal.
class CAboutDlg : public Dialog
{
public:
    CAboutDlg();

protected:
    bool OnInitDialog() override;

private:
    std::string m_version;
};

} // namespace kzb::ui
