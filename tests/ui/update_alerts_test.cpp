// The update alerts as the user sees them: texts, buttons and what pressing
// each one answers, in English and in another language.

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
    QRect frame;               // the alert on the screen
    QRect screen;              // the screen's available area
    bool buttonsInside = true; // every button lies inside the alert
    bool scrolls = false;      // some text area scrolls
};

// Runs show() and, once its alert is up, records it and presses the button
// with the given text, or Escape when the text is empty.
template <typename Show> auto runAlert(Show show, const QString& press, SeenAlert& seen) {
    QTimer::singleShot(0, [&] {
        QWidget* alert = QApplication::activeModalWidget();
        ASSERT_NE(alert, nullptr);
        seen.windowTitle = alert->windowTitle();
        const auto top = [alert](const QWidget* w) { return w->mapTo(alert, QPoint()).y(); };
        const QList<QLabel*> labels = alert->findChildren<QLabel*>();
        QList<QWidget*> shown;
        for (QLabel* label : labels) {
            if (label->isVisible() && !label->text().isEmpty()) {
                shown.append(label);
                seen.allPlain = seen.allPlain && label->textFormat() == Qt::PlainText;
            }
        }
        for (QTextEdit* area : alert->findChildren<QTextEdit*>())
            shown.append(area);
        std::sort(shown.begin(), shown.end(),
                  [&](const QWidget* a, const QWidget* b) { return top(a) < top(b); });
        for (const QWidget* text : shown) {
            const auto* label = qobject_cast<const QLabel*>(text);
            seen.texts.append(label ? label->text()
                                    : static_cast<const QTextEdit*>(text)->toPlainText());
        }
        for (const QAbstractScrollArea* area : alert->findChildren<QAbstractScrollArea*>())
            seen.scrolls = seen.scrolls || area->verticalScrollBar()->maximum() > 0;
        seen.frame = alert->frameGeometry();
        seen.screen = alert->screen()->availableGeometry();
        QList<QAbstractButton*> buttons = alert->findChildren<QAbstractButton*>();
        std::sort(buttons.begin(), buttons.end(), [&](const QWidget* a, const QWidget* b) {
            return a->mapTo(alert, QPoint()).x() < b->mapTo(alert, QPoint()).x();
        });
        QAbstractButton* target = nullptr;
        for (QAbstractButton* button : buttons) {
            seen.buttonsInside =
                seen.buttonsInside &&
                alert->rect().contains(QRect(button->mapTo(alert, QPoint()), button->size()));
            seen.buttons.append(shownText(button));
            if (auto* push = qobject_cast<QPushButton*>(button); push && push->isDefault())
                seen.defaultButton = seen.buttons.last();
            if (seen.buttons.last() == press)
                target = button;
        }
        if (target)
            target->click();
        else
            QTest::keyClick(alert, Qt::Key_Escape);
    });
    return show();
}

using UpdateAlerts::Choice;

class UpdateAlertsTest : public UiTest {};

TEST_F(UpdateAlertsTest, EnglishAlertsShowTheirTextsAndAnswerThePressedButton) {
    const QString message = "A new version <b>1.1</b> is available. Would you like to download it?";
    struct Case {
        std::optional<QString> notes;
        QString press;
        Choice answer;
        QString body;
    };
    const Case cases[] = {
        {std::nullopt, "Later", Choice::later, message},
        {"One\nTwo", "Download & Update", Choice::download, message + "\n\nOne\nTwo"},
        {"", "Visit Website", Choice::visitWebsite, message + "\n\n"},
        {std::nullopt, "", Choice::later, message}, // Escape
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.press.toStdString());
        SeenAlert seen;
        EXPECT_EQ(runAlert([&] { return UpdateAlerts::showUpdateAvailable("<b>1.1</b>", c.notes); },
                           c.press, seen),
                  c.answer);
        EXPECT_EQ(seen.windowTitle, "Quillmere");
        EXPECT_EQ(seen.texts, (QStringList{"Quillmere - Update Available", c.body}));
        EXPECT_EQ(seen.buttons, (QStringList{"Later", "Download & Update", "Visit Website"}));
        EXPECT_EQ(seen.defaultButton, "Later");
        EXPECT_TRUE(seen.allPlain);
    }

    SeenAlert none;
    runAlert([] { UpdateAlerts::showNoUpdate(); }, "", none);
    EXPECT_EQ(none.texts, (QStringList{"No Updates", "You are using the latest version."}));
    EXPECT_EQ(none.buttons, QStringList{"OK"});
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
    EXPECT_TRUE(seen.screen.contains(seen.frame))
        << seen.frame.width() << "x" << seen.frame.height() << " on " << seen.screen.width() << "x"
        << seen.screen.height();
    EXPECT_TRUE(seen.buttonsInside);
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
        EXPECT_EQ(none.texts.value(0), L10n::noUpdateTitle());
        EXPECT_EQ(none.buttons, QStringList{"OK"});
    }
}

} // namespace
} // namespace quillmere::testing
