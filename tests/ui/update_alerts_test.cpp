// The update alerts as the user sees them: texts, buttons and what pressing
// each one answers, in every language, and a long release note.

#include "UiTestSupport.h"

#include "ui/Localization.h"
#include "ui/UpdateAlerts.h"

#include <QAbstractButton>
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
    QString windowTitle;
    QStringList texts;   // every text shown, top to bottom
    QStringList buttons; // left to right, as shown
    QString defaultButton;
    bool allPlain = true;
    bool fits = true;     // on the screen, with every button inside it
    bool scrolls = false; // some text area scrolls
};

QPoint in(const QWidget* alert, const QWidget* w) {
    return w->mapTo(alert, QPoint());
}

// Runs show() and, once its alert is up, records it and presses the button
// with the given text, or Escape when the text is empty.
template <typename Show> auto runAlert(Show show, const QString& press, SeenAlert& seen) {
    QTimer::singleShot(0, [&] {
        QWidget* alert = QApplication::activeModalWidget();
        ASSERT_NE(alert, nullptr);
        seen.windowTitle = alert->windowTitle();
        seen.fits = alert->screen()->availableGeometry().contains(alert->frameGeometry());
        QList<QWidget*> shown;
        for (QLabel* label : alert->findChildren<QLabel*>()) {
            if (label->isVisible() && !label->text().isEmpty()) {
                shown.append(label);
                seen.allPlain = seen.allPlain && label->textFormat() == Qt::PlainText;
            }
        }
        for (QTextEdit* area : alert->findChildren<QTextEdit*>()) {
            shown.append(area);
            seen.scrolls = seen.scrolls || area->verticalScrollBar()->maximum() > 0;
        }
        std::sort(shown.begin(), shown.end(),
                  [&](QWidget* a, QWidget* b) { return in(alert, a).y() < in(alert, b).y(); });
        for (const QWidget* text : shown) {
            const auto* label = qobject_cast<const QLabel*>(text);
            seen.texts.append(label ? label->text()
                                    : static_cast<const QTextEdit*>(text)->toPlainText());
        }
        QList<QAbstractButton*> buttons = alert->findChildren<QAbstractButton*>();
        std::sort(buttons.begin(), buttons.end(),
                  [&](QWidget* a, QWidget* b) { return in(alert, a).x() < in(alert, b).x(); });
        QAbstractButton* target = nullptr;
        for (QAbstractButton* button : buttons) {
            seen.fits =
                seen.fits && alert->rect().contains(QRect(in(alert, button), button->size()));
            seen.buttons.append(shownText(button));
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

class UpdateAlertsTest : public UiTest {};

TEST_F(UpdateAlertsTest, EnglishAlertsShowTheirTextsAndAnswerThePressedButton) {
    const QString message = "A new version <b>1.1</b> is available. Would you like to download it?";
    const struct {
        std::optional<QString> notes;
        QString press;
        Choice answer;
        QString body;
    } cases[] = {
        {std::nullopt, "Later", Choice::later, message},
        {"One\nTwo", "Download & Update", Choice::download, message + "\n\nOne\nTwo"},
        {"", "Visit Website", Choice::visitWebsite, message + "\n\n"},
        {std::nullopt, "", Choice::later, message}, // Escape
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.press.toStdString());
        SeenAlert seen;
        EXPECT_EQ(runAlert([&] { return UpdateAlerts::showUpdateAvailable("<b>1.1</b>", c.notes); },
                           c.press, seen),
                  c.answer);
        EXPECT_EQ(seen.windowTitle, "Quillmere");
        EXPECT_EQ(seen.texts, (QStringList{"Quillmere - Update Available", c.body}));
        EXPECT_EQ(seen.defaultButton, "Later");
        EXPECT_TRUE(seen.allPlain);
    }
}

// A long release note scrolls inside an alert that fits on the screen, so
// its buttons stay within reach.
TEST_F(UpdateAlertsTest, LongReleaseNotesScrollInsideAnAlertThatFitsTheScreen) {
    QString notes;
    for (int line = 1; line <= 300; ++line)
        notes += QStringLiteral("Change number %1\n").arg(line);
    notes += QString(2000, u'x'); // one word longer than any screen is wide
    SeenAlert seen;
    EXPECT_EQ(runAlert([&] { return UpdateAlerts::showUpdateAvailable("1.1.0", notes); },
                       "Download & Update", seen),
              Choice::download);
    EXPECT_TRUE(seen.fits);
    EXPECT_TRUE(seen.scrolls);
    EXPECT_TRUE(seen.texts.value(1).endsWith(notes));
}

// Every language keeps the prefix, "OK" and the server's texts, and shows
// its button texts as they stand in the table, '&' included.
TEST_F(UpdateAlertsTest, EveryLanguageShowsItsTextsLiterally) {
    for (Language language : Languages::allCases()) {
        const std::string code(Languages::rawValue(language));
        SCOPED_TRACE(code);
        store.setObject("language", code);
        SeenAlert update;
        runAlert([] { return UpdateAlerts::showUpdateAvailable("1.1.0", QString("Notes")); }, "",
                 update);
        EXPECT_EQ(update.texts, (QStringList{"Quillmere - " + L10n::updateAvailable(),
                                             L10n::updateMessage("1.1.0") + "\n\nNotes"}));
        EXPECT_EQ(update.buttons,
                  (QStringList{L10n::later(), L10n::download(), L10n::visitWebsite()}));
        SeenAlert none;
        runAlert([] { UpdateAlerts::showNoUpdate(); }, "", none);
        EXPECT_EQ(none.texts, (QStringList{L10n::noUpdateTitle(), L10n::noUpdateMessage()}));
        EXPECT_EQ(none.buttons, QStringList{"OK"});
        EXPECT_TRUE(update.allPlain && none.allPlain);
    }
}

} // namespace
} // namespace quillmere::testing
