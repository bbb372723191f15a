// The update alerts as the user sees them: texts, buttons and what pressing
// each one answers, in every language, and a long release note.

#include "support/StoreTest.h"

#include "ui/Localization.h"
#include "ui/UpdateAlerts.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>

namespace quillmere::testing {
namespace {

struct SeenAlert {
    QStringList texts;   // every text shown: the labels, then the text areas
    QStringList buttons; // left to right, as shown
    QString defaultButton;
    bool allPlain = true;
    bool fits = true;     // on the screen, with every button inside it
    bool scrolls = false; // some text area scrolls
};

// Runs show() and, once its alert is up, records it and presses the button
// with the given text, or Escape when the text is empty.
template <typename Show> auto runAlert(Show show, const QString& press, SeenAlert& seen) {
    QTimer::singleShot(0, [&] {
        QWidget* alert = QApplication::activeModalWidget();
        ASSERT_NE(alert, nullptr);
        const auto at = [alert](const QWidget* w) { return w->mapTo(alert, QPoint()); };
        seen.fits = alert->screen()->availableGeometry().contains(alert->frameGeometry());
        for (QLabel* label : alert->findChildren<QLabel*>()) {
            if (label->isVisible() && !label->text().isEmpty()) {
                seen.texts.append(label->text());
                seen.allPlain = seen.allPlain && label->textFormat() == Qt::PlainText;
            }
        }
        for (QTextEdit* area : alert->findChildren<QTextEdit*>()) {
            seen.texts.append(area->toPlainText());
            seen.scrolls = seen.scrolls || area->verticalScrollBar()->maximum() > 0;
        }
        QList<QAbstractButton*> buttons = alert->findChildren<QAbstractButton*>();
        std::sort(buttons.begin(), buttons.end(),
                  [&](QWidget* a, QWidget* b) { return at(a).x() < at(b).x(); });
        QAbstractButton* target = nullptr;
        for (QAbstractButton* button : buttons) {
            seen.fits = seen.fits && alert->rect().contains(QRect(at(button), button->size()));
            // As shown and read out: Qt takes a single '&' in a button's text
            // as a shortcut marker and hides it.
            seen.buttons.append(
                QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name));
            if (auto* push = qobject_cast<QPushButton*>(button); push && push->isDefault())
                seen.defaultButton = seen.buttons.last();
            if (seen.buttons.last() == press)
                target = button;
        }
        target ? target->click() : QTest::keyClick(alert, Qt::Key_Escape);
    });
    return show();
}

using UpdateAlerts::Choice;

using UpdateAlertsTest = StoreTest;

// Every language shows its texts as they stand in the table ('&' included,
// markup as plain text), the prefix, "OK" and the server's notes; each
// language presses the next of the buttons in turn. Long notes scroll inside
// an alert that fits on the screen, so its buttons stay within reach.
TEST_F(UpdateAlertsTest, EveryLanguageShowsItsTextsLiterallyAndAnswersThePressedButton) {
    QString longNotes;
    for (int line = 1; line <= 300; ++line)
        longNotes += QStringLiteral("Change number %1\n").arg(line);
    longNotes += QString(2000, u'x'); // one word longer than any screen is wide
    // The notes sent, and the button pressed (-1: Escape, which answers "Later").
    const std::pair<std::optional<QString>, int> cases[] = {
        {std::nullopt, 0}, {"One\nTwo", 1}, {"", 2}, {longNotes, -1}};
    const Choice answers[] = {Choice::later, Choice::download, Choice::visitWebsite};
    for (std::size_t i = 0; i < Languages::count; ++i) {
        const std::string code(Languages::rawValue(Languages::allCases()[i]));
        SCOPED_TRACE(code);
        store.setObject("language", code);
        const auto& [notes, press] = cases[i % std::size(cases)];
        const QStringList buttons{L10n::later(), L10n::download(), L10n::visitWebsite()};
        SeenAlert update;
        EXPECT_EQ(runAlert([&] { return UpdateAlerts::showUpdateAvailable("<b>1.1</b>", notes); },
                           press < 0 ? QString() : buttons[press], update),
                  press < 0 ? Choice::later : answers[press]);
        EXPECT_EQ(update.texts, (QStringList{"Quillmere - " + L10n::updateAvailable(),
                                             L10n::updateMessage("<b>1.1</b>") +
                                                 (notes ? "\n\n" + *notes : "")}));
        EXPECT_EQ(update.buttons, buttons);
        EXPECT_EQ(update.defaultButton, L10n::later());
        EXPECT_TRUE(update.fits);
        EXPECT_EQ(update.scrolls, notes == longNotes);
        SeenAlert none;
        runAlert([] { UpdateAlerts::showNoUpdate(); }, "", none);
        EXPECT_EQ(none.texts, (QStringList{L10n::noUpdateTitle(), L10n::noUpdateMessage()}));
        EXPECT_EQ(none.buttons, QStringList{"OK"});
        EXPECT_TRUE(update.allPlain && none.allPlain);
    }
}

} // namespace
} // namespace quillmere::testing
