#pragma once
// The non-modal dialog that says which access Quillmere needs and why, and
// gives the exact commands that grant it.

#include <QDialog>

class QPlainTextEdit;

namespace quillmere {

class PermissionPrompt : public QDialog {
    Q_OBJECT
public:
    // Makes and shows a new prompt that deletes itself when closed.
    static PermissionPrompt* showOnce();

    // The shell commands that install the udev rule (unless it is installed
    // already) and load uinput.
    static QString commands();

    QString explanation() const;
    QString commandText() const;

private:
    PermissionPrompt();
    QPlainTextEdit* commandsView_ = nullptr;
};

} // namespace quillmere
