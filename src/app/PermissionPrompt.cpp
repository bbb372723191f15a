#include "PermissionPrompt.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillmere {

namespace {
const char* const explanationText =
    "Quillmere turns right-button drags into scrolling. To do that it must read your "
    "mice before the desktop does (/dev/input) and send the resulting scroll events "
    "through a virtual pointer (/dev/uinput). Your account does not have that access yet.\n\n"
    "Run these commands once in a terminal. They give the person logged in at this "
    "computer access to mice and to uinput, without a new group and without logging out. "
    "Quillmere starts by itself as soon as the access is there.";

QString quoted(const QString& path) {
    QString escaped = path;
    escaped.replace(QStringLiteral("'"), QStringLiteral("'\\''"));
    return u'\'' + escaped + u'\'';
}
} // namespace

QString PermissionPrompt::commands() {
    // The package's place, or where these very commands put it.
    const bool installed = QFile::exists(QStringLiteral(QUILLMERE_UDEV_RULE_INSTALLED)) ||
                           QFile::exists(QStringLiteral("/etc/udev/rules.d/70-quillmere.rules"));
    QStringList lines;
    if (!installed) {
        lines << QStringLiteral("sudo install -D -m 644 %1 /etc/udev/rules.d/70-quillmere.rules")
                     .arg(quoted(QStringLiteral(QUILLMERE_UDEV_RULE_SOURCE)));
        lines << QStringLiteral(
            "echo uinput | sudo tee /etc/modules-load.d/quillmere.conf >/dev/null");
    }
    lines << QStringLiteral("sudo modprobe uinput");
    lines << QStringLiteral("sudo udevadm control --reload");
    lines << QStringLiteral("sudo udevadm trigger --subsystem-match=input --subsystem-match=misc");
    return lines.join(u'\n');
}

PermissionPrompt::PermissionPrompt() {
    setWindowTitle(QStringLiteral("Quillmere needs access to your mice"));
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);

    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QString::fromUtf8(explanationText), this);
    label->setObjectName(QStringLiteral("explanation"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    layout->addWidget(label);

    commandsView_ = new QPlainTextEdit(commands(), this);
    commandsView_->setObjectName(QStringLiteral("commands"));
    commandsView_->setReadOnly(true);
    commandsView_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    commandsView_->setLineWrapMode(QPlainTextEdit::NoWrap);
    commandsView_->setMinimumSize(560, 130);
    layout->addWidget(commandsView_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* copy =
        buttons->addButton(QStringLiteral("Copy Commands"), QDialogButtonBox::ActionRole);
    connect(copy, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(commandsView_->toPlainText()); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    layout->addWidget(buttons);
}

PermissionPrompt* PermissionPrompt::showOnce() {
    auto* prompt = new PermissionPrompt();
    prompt->show();
    prompt->raise();
    prompt->activateWindow();
    return prompt;
}

QString PermissionPrompt::explanation() const {
    return QString::fromUtf8(explanationText);
}

QString PermissionPrompt::commandText() const {
    return commandsView_->toPlainText();
}

} // namespace quillmere
