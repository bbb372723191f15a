#include "UpdateAlerts.h"

#include "AppInfo.h"
#include "Localization.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace quillmere::UpdateAlerts {
namespace {

// Every label of the box shows its text as plain text: the version and the
// release notes come from the server.
void makePlain(QMessageBox& box) {
    box.setTextFormat(Qt::PlainText);
    for (QLabel* label : box.findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);
}

} // namespace

Choice showUpdateAvailable(const QString& version, const std::optional<QString>& notes) {
    QMessageBox box;
    box.setWindowTitle(QString::fromLatin1(AppInfo::productName));
    box.setIcon(QMessageBox::Information);
    box.setText(QStringLiteral("Quillmere - ") + L10n::updateAvailable());
    QString message = L10n::updateMessage(version);
    if (notes)
        message += QStringLiteral("\n\n") + *notes;
    box.setInformativeText(message);
    // One role for all three keeps them in this order on every desktop.
    QPushButton* later = box.addButton(asButtonText(L10n::later()), QMessageBox::ActionRole);
    QPushButton* download = box.addButton(asButtonText(L10n::download()), QMessageBox::ActionRole);
    QPushButton* website =
        box.addButton(asButtonText(L10n::visitWebsite()), QMessageBox::ActionRole);
    box.setDefaultButton(later);
    box.setEscapeButton(later);
    makePlain(box);
    box.exec();

    const QAbstractButton* pressed = box.clickedButton();
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
