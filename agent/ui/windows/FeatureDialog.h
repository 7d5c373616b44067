// What the dialogs inside the container share: the tooltips of their controls, a button
// sized to its picture, the dialog fitted round its group box, and UpdateLayout.
#pragma once

#include "Window.h"

#include <vector>

namespace kzb::ui {

// Where the feature dialogs put things, in pixels.
namespace pane {
constexpr int GroupLeft = 5;        // the group box's corner in the dialog
constexpr int GroupTop = 5;
constexpr int ContentLeft = 15;     // the controls inside the group box
constexpr int ContentTop = 25;      // under the group box's caption
constexpr int GroupSpareWidth = 20; // the group box round its content
constexpr int GroupSpareHeight = 30;
constexpr int AnnotationWidth = 430; // the content of each dialog
constexpr int ButtonPairWidth = 173;
constexpr int StatusPictureWidth = 23;
} // namespace pane

class CFeatureDialog : public Dialog
{
public:
    CFeatureDialog(unsigned templateId, int contentWidth) : m_layoutWidth(contentWidth), m_templateId(templateId) {}
    ~CFeatureDialog() override;

    bool Create(HWND parent) { return Dialog::Create(m_templateId, parent); }
    // Lays the dialog out again when what it shows changed; true then.
    virtual bool UpdateLayout() = 0;
    // Whether the container shows it, as the last UpdateLayout decided.
    virtual bool Visible() const = 0;

protected:
    bool OnInitDialog() override;

    void AddTooltip(HWND control, const std::string& text);
    void RemoveTooltip(HWND control);
    // The picture on the button, the button sized to it; the dialog keeps the picture.
    void SetButtonImage(HWND button, unsigned bitmapId);
    // A bitmap that lives as long as the dialog.
    HBITMAP KeepPicture(unsigned bitmapId);
    // The group box at its corner in that size, and the dialog's client area fitted round it.
    void PlaceGroupBox(HWND groupBox, int width, int height);
    void FitToGroupBox(HWND groupBox);
    // The group box round content of the dialog's width and that height.
    void PlaceGroupAround(HWND groupBox, int contentHeight);
    // Two picture buttons spread over the content's width after a leading control of that
    // width (none: 0), the group box round them; their height.
    int LayOutButtonPair(HWND first, HWND second, int leadingWidth, HWND groupBox);

    const int m_layoutWidth;
    int m_contentHeight = 0;

private:
    unsigned m_templateId;
    HWND m_tooltip = nullptr;
    std::vector<HBITMAP> m_pictures;
};

// "Tahoma", 13 pixels, normal weight: the dialogs' own font.
HFONT CreateDialogFont();
// Gives the window and every child the font.
void SetFontOfAll(HWND window, HFONT font);

} // namespace kzb::ui
