#include "StatusDialogs.h"

#include "ui/Strings.h"
#include "ui/VersionInfoStore.h"
#include "ui/resource.h"

namespace kzb::ui {

namespace {

constexpr int StatusTextWidth = 440;
// The call state's picture, in the hidden group box.
constexpr int PictureLeft = 5;
constexpr int PictureTop = 10;
constexpr int PictureSide = 48;

} // namespace

// ---------------------------------------------------------------- status dialog

CStatusDialog::~CStatusDialog()
{
    Destroy();
    if (m_font != nullptr)
        ::DeleteObject(m_font);
}

bool CStatusDialog::Create(HWND parent)
{
    return Dialog::Create(IDD_STATUSDIALOG, parent);
}

bool CStatusDialog::OnInitDialog()
{
    m_font = CreateDialogFont();
    SetFontOfAll(Handle(), m_font);
    SetText(Item(IDC_STATUS_TEXT), "");
    return true;
}

bool CStatusDialog::UpdateStatus(const RecorderStatusTable& table, const std::string& updateMode, std::time_t now)
{
    if (!m_report.Update(table, updateMode, now))
        return false;
    const std::string& text = m_report.Text();
    HWND textControl = Item(IDC_STATUS_TEXT);
    SetText(textControl, text);
    if (!text.empty()) {
        RECT bounds{0, 0, StatusTextWidth, 0};
        HDC context = ::GetDC(Handle());
        HGDIOBJ previous = ::SelectObject(context, m_font);
        ::DrawTextA(context, text.c_str(), static_cast<int>(text.size()), &bounds,
                    DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        ::SelectObject(context, previous);
        ::ReleaseDC(Handle(), context);
        const int height = bounds.bottom - bounds.top;
        ::SetWindowPos(textControl, nullptr, 10, 20, StatusTextWidth, height, SWP_NOZORDER | SWP_NOACTIVATE);
        ::SetWindowPos(Item(IDC_STATUS_GROUP), nullptr, 5, 5, StatusTextWidth + 10, height + 20,
                       SWP_NOZORDER | SWP_NOACTIVATE);
        SetClientSize(Handle(), StatusTextWidth + 20, height + 30);
    }
    return true;
}

// ---------------------------------------------------------------- status image

CStatusImageDialog::CStatusImageDialog(const RecorderStatusTable* statusTable)
    : CFeatureDialog(IDD_STATUSIMAGEDIALOG, pane::StatusPictureWidth), m_statusTable(statusTable), m_layout(statusTable)
{
}

bool CStatusImageDialog::OnInitDialog()
{
    CFeatureDialog::OnInitDialog();
    ::ShowWindow(Item(IDC_STATUS_GROUP), SW_HIDE);
    for (unsigned id : {IDB_STATUS_IDLE, IDB_STATUS_RECORDING, IDB_STATUS_SUPPRESSING, IDB_STATUS_DISCARDING,
                        IDB_STATUS_UNAVAILABLE})
        m_images.push_back({id, KeepPicture(id)});
    HWND picture = Item(IDC_STATUS_PICTURE);
    ::SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(BitmapOf(IDB_STATUS_IDLE)));
    m_shown = {IDB_STATUS_IDLE, strings::IdleId, strings::Idle};
    AddTooltip(picture, strings::Idle);
    return true;
}

HBITMAP CStatusImageDialog::BitmapOf(unsigned bitmapId) const
{
    for (const Image& image : m_images) {
        if (image.id == bitmapId)
            return image.bitmap;
    }
    return nullptr;
}

void CStatusImageDialog::UpdateImage()
{
    if (m_statusTable == nullptr || Handle() == nullptr)
        return;
    const StatusImage image = ChooseStatusImage(*m_statusTable);
    if (image.bitmap == m_shown.bitmap && image.tooltip == m_shown.tooltip)
        return;
    HWND picture = Item(IDC_STATUS_PICTURE);
    RemoveTooltip(picture);
    ::SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(BitmapOf(image.bitmap)));
    m_shown = image;
    AddTooltip(picture, image.tooltipText);
}

bool CStatusImageDialog::UpdateLayout()
{
    if (m_statusTable == nullptr || !m_layout.UpdateLayout())
        return false;
    HWND picture = Item(IDC_STATUS_PICTURE);
    ::SetWindowPos(picture, nullptr, PictureLeft, PictureTop, PictureSide, PictureSide, SWP_NOZORDER | SWP_NOACTIVATE);
    // The height it has now, so that the dialog holds the whole picture.
    PlaceGroupBox(Item(IDC_STATUS_GROUP), m_layoutWidth + pane::GroupSpareWidth, ClientSize(picture).cy + PictureTop);
    return true;
}

// ---------------------------------------------------------------- about box

CAboutDlg::CAboutDlg() : m_version(VersionInfoStore().GetVersion())
{
}

bool CAboutDlg::OnInitDialog()
{
    SetText(Item(IDC_VERSION), m_version);
    return true;
}

} // namespace kzb::ui
