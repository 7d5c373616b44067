// What the dialogs inside the container share: the tooltips of their controls, a button
// sized to its picture, the dialog fitted round its group box, and UpdateLayout.
#pragma once

#include "Window.h"

#include <vector>

namespace kzb::ui {

class CFeatureDialog : public Dialog
{
public:
    explicit CFeatureDialog(unsigned templateId) : m_templateId(templateId) {}
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
    // The group box at (5, 5) in that size, and the dialog's client area 10 larger each way.
    void PlaceGroupBox(HWND groupBox, int width, int height);
    void FitToGroupBox(HWND groupBox);

    int m_layoutWidth = 430;
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
