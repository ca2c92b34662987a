#pragma once
// CWarningDlg: the window that asks before a started update is cancelled
// (template 131). Modeless, owned by the main window; it lives exactly as
// long as its window. "Yes" (the default button, so Enter confirms) cancels
// the run; "No", the close box and Escape leave the run going.

#include <QDialog>

#include <string>

class CUpdateDlg;

class CWarningDlg : public QDialog {
public:
    // The text is kept up to 399 characters, as the original buffer held.
    static constexpr size_t MAX_TEXT = 399;

    CWarningDlg(const std::string& text, CUpdateDlg& owner);

    // Builds the window from template 131, fills in the text and shows it
    // without a modal loop.
    void Create();
    bool OnInitDialog();

protected:
    // Escape and the close box: as "No".
    void reject() override;

private:
    void OnYes();
    void OnNo();

    std::string m_text;
    CUpdateDlg& m_owner;
};
