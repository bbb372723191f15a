#include "UpdateAlerts.h"

#include "AppInfo.h"
#include "Localization.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTextDocument>
#include <QTextEdit>

#include <algorithm>
#include <cmath>
#include <memory>

namespace quillmere::UpdateAlerts {
namespace {

constexpr int textWidth = 420;

// Every label of the box shows its text as plain text.
void makePlain(QMessageBox& box) {
    box.setTextFormat(Qt::PlainText);
    for (QLabel* label : box.findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);
}

// The message and the release notes, as plain text in an area that looks
// like a label while it fits and scrolls once the notes would make the
// alert taller than the screen allows; a word too long for a line breaks
// anywhere rather than widen the alert.
QTextEdit* makeBody(QDialog& alert, const QString& text) {
    auto* body = new QTextEdit(&alert);
    body->setReadOnly(true);
    body->setAcceptRichText(false);
    body->setPlainText(text);
    body->setFrameShape(QFrame::NoFrame);
    body->viewport()->setAutoFillBackground(false);
    body->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    body->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    body->document()->setDocumentMargin(0); // the text lines up with the heading

    const QRect screen =
        alert.screen() ? alert.screen()->availableGeometry() : QRect(0, 0, 800, 600);
    const int width = std::min(textWidth, screen.width() * 3 / 4);
    // Measured on a copy: the area lays its own document out only once shown.
    std::unique_ptr<QTextDocument> measure(body->document()->clone());
    measure->setDefaultFont(body->font());
    measure->setTextWidth(width);
    const int wanted = static_cast<int>(std::ceil(measure->size().height()));
    // Half the screen leaves room for the heading, the buttons and a title bar.
    body->setFixedSize(width + body->style()->pixelMetric(QStyle::PM_ScrollBarExtent),
                       std::min(wanted, screen.height() / 2));
    return body;
}

} // namespace

Choice showUpdateAvailable(const QString& version, const std::optional<QString>& notes) {
    QDialog alert;
    alert.setWindowTitle(QString::fromLatin1(AppInfo::productName));

    auto* icon = new QLabel(&alert);
    const int iconSize = alert.style()->pixelMetric(QStyle::PM_MessageBoxIconSize);
    icon->setPixmap(alert.style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(iconSize));
    auto* heading = new QLabel(QStringLiteral("Quillmere - ") + L10n::updateAvailable(), &alert);
    heading->setTextFormat(Qt::PlainText);
    QString message = L10n::updateMessage(version);
    if (notes)
        message += QStringLiteral("\n\n") + *notes;
    QTextEdit* body = makeBody(alert, message);

    // One role for all three keeps them in this order on every desktop.
    auto* buttons = new QDialogButtonBox(&alert);
    QPushButton* later =
        buttons->addButton(asButtonText(L10n::later()), QDialogButtonBox::ActionRole);
    QPushButton* download =
        buttons->addButton(asButtonText(L10n::download()), QDialogButtonBox::ActionRole);
    QPushButton* website =
        buttons->addButton(asButtonText(L10n::visitWebsite()), QDialogButtonBox::ActionRole);
    later->setDefault(true);
    later->setFocus();
    QAbstractButton* pressed = nullptr;
    QObject::connect(buttons, &QDialogButtonBox::clicked, &alert, [&](QAbstractButton* button) {
        pressed = button;
        alert.accept();
    });

    auto* layout = new QGridLayout(&alert);
    layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    layout->addWidget(heading, 0, 1);
    layout->addWidget(body, 1, 1);
    layout->setRowMinimumHeight(2, 8); // a gap above the buttons, as in a message box
    layout->addWidget(buttons, 3, 0, 1, 2);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    alert.exec(); // Escape and the close button answer "Later"
    if (pressed == download)
        return Choice::download;
    if (pressed == website)
        return Choice::visitWebsite;
    return Choice::later;
}

void showNoUpdate() {
    QMessageBox box;
    box.setWindowTitle(QString::fromLatin1(AppInfo::productName));
    box.setIcon(QMessageBox::Information);
    box.setText(L10n::noUpdateTitle());
    box.setInformativeText(L10n::noUpdateMessage());
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    makePlain(box);
    box.exec();
}

} // namespace quillmere::UpdateAlerts
