// The update alerts as the user sees them: texts, buttons and what pressing
// each one answers, in English and in another language.

#include "UiTestSupport.h"

#include "ui/Localization.h"
#include "ui/UpdateAlerts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
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
};

// Runs show() and, once its alert is up, records it and presses the button
// with the given text, or Escape when the text is empty.
template <typename Show> auto runAlert(Show show, const QString& press, SeenAlert& seen) {
    QTimer::singleShot(0, [&] {
        QWidget* alert = QApplication::activeModalWidget();
        ASSERT_NE(alert, nullptr);
        seen.windowTitle = alert->windowTitle();
        const auto top = [alert](const QWidget* w) { return w->mapTo(alert, QPoint()).y(); };
        QList<QLabel*> labels = alert->findChildren<QLabel*>();
        std::sort(labels.begin(), labels.end(),
                  [&](const QLabel* a, const QLabel* b) { return top(a) < top(b); });
        for (const QLabel* label : labels) {
            if (label->isVisible() && !label->text().isEmpty()) {
                seen.texts.append(label->text());
                seen.allPlain = seen.allPlain && label->textFormat() == Qt::PlainText;
            }
        }
        QList<QAbstractButton*> buttons = alert->findChildren<QAbstractButton*>();
        std::sort(buttons.begin(), buttons.end(), [&](const QWidget* a, const QWidget* b) {
            return a->mapTo(alert, QPoint()).x() < b->mapTo(alert, QPoint()).x();
        });
        QAbstractButton* target = nullptr;
        for (QAbstractButton* button : buttons) {
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
