// The preferences window: what each control stores and reports, how the
// window refreshes from the store, and where everything sits, in every
// language and mirrored for right-to-left ones.

#include "UiTestSupport.h"

#include "AppInfo.h"
#include "ui/CardView.h"
#include "ui/GradientView.h"
#include "ui/Localization.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSignalSpy>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QWheelEvent>
#include <QtTest/qtestspontaneevent.h>

#include <map>

namespace quillmere::testing {
namespace {

class PreferencesWindowTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        window = std::make_unique<PreferencesWindow>(outside.actions());
    }
    void TearDown() override {
        window.reset();
        UiTest::TearDown();
    }

    const PreferencesWindow::Views& v() const { return window->views(); }
    QCheckBox* box(const char* settingName) const { return window->checkbox(settingName); }

    void click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton); }

    std::optional<bool> storedBool(const char* key) const { return store.boolValue(key); }

    OutsideWorld outside;
    std::unique_ptr<PreferencesWindow> window;
};

// A rectangle in the window's coordinates.
QRect inWindow(const QWidget* widget) {
    return QRect(widget->mapTo(widget->window(), QPoint(0, 0)), widget->size());
}

int bottomOf(const QWidget* widget) {
    return widget->geometry().bottom() + 1;
}

TEST_F(PreferencesWindowTest, EmptyStoreShowsTheDefaults) {
    outside.launchAtLoginRegistered = true;
    window->showWindow();
    // Launch at login follows the registration as it stands, not the store.
    EXPECT_TRUE(box("launch_at_login")->isChecked());
    EXPECT_EQ(v().speedSlider->value(), 3 * PreferencesWindow::sliderScale);
    EXPECT_EQ(v().speedLabel->text(), "3.0");
    EXPECT_EQ(v().langPopup->currentIndex(), 0);
    // Showing reads only: nothing is written and nothing is reported.
    EXPECT_EQ(store.size(), 0u);
    EXPECT_TRUE(outside.events.empty());
}

TEST_F(PreferencesWindowTest, EachCheckboxShowsItsDefaultStoresItsKeyAndReportsEveryClick) {
    struct Row {
        const char* settingName;
        const char* key;
        bool byDefault;
    };
    const Row rows[] = {
        {"vertical_scroll", "enableVerticalScroll", true},
        {"horizontal_scroll", "enableHorizontalScroll", true},
        {"diagonal_scroll", "diagonalScroll", false},
        {"reverse_scroll", "reverseScroll", true},
        {"smooth_scroll", "usePixelScrolling", true},
        {"momentum_scroll", "momentumScroll", true},
    };
    window->showWindow();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key);
        QCheckBox* const checkbox = box(row.settingName);
        ASSERT_NE(checkbox, nullptr);
        const bool before = checkbox->isChecked();
        EXPECT_EQ(before, row.byDefault);
        const std::size_t sizeBefore = store.size();
        outside.events.clear();

        click(checkbox);
        EXPECT_EQ(storedBool(row.key), !before);
        EXPECT_EQ(store.size(), sizeBefore + 1) << "a click writes its own key only";
        ASSERT_EQ(outside.events.size(), 1u);
        EXPECT_EQ(outside.events[0].name, "setting_changed");
        EXPECT_EQ(outside.events[0].params,
                  QJsonObject({{"setting_name", row.settingName},
                               {"setting_value", before ? "false" : "true"}}));

        // The store already holds the value the next click gives (changed
        // behind the window's back): the click still reports once.
        store.setBool(row.key, before);
        click(checkbox);
        EXPECT_EQ(storedBool(row.key), before);
        ASSERT_EQ(outside.events.size(), 2u);
        EXPECT_EQ(outside.events[1].params["setting_value"], before ? "true" : "false");
    }
    EXPECT_TRUE(outside.launchAtLoginCalls.empty());
}

TEST_F(PreferencesWindowTest, LaunchAtLoginGoesThroughTheHelperAndKeepsTheClickedState) {
    outside.launchAtLoginRegistered = false;
    window->showWindow();
    click(box("launch_at_login"));
    EXPECT_EQ(outside.launchAtLoginCalls, std::vector<bool>{true});
    // The window never writes the key itself: the helper does on success.
    EXPECT_EQ(store.object("launchAtLogin"), SettingsValue{});
    ASSERT_EQ(outside.events.size(), 1u);
    EXPECT_EQ(outside.events[0].params,
              QJsonObject({{"setting_name", "launch_at_login"}, {"setting_value", "true"}}));
    // Registration failed (still not registered): the box shows the click
    // until the window is shown again, which reads the real state.
    EXPECT_TRUE(box("launch_at_login")->isChecked());
    window->showWindow();
    EXPECT_FALSE(box("launch_at_login")->isChecked());
}

TEST_F(PreferencesWindowTest, StoredSpeedIsShownAsStoredAndBadValuesShowTheDefault) {
    store.setObject("scrollSpeed", 12.34);
    window->showWindow();
    EXPECT_EQ(v().speedSlider->value(), 12340);
    EXPECT_EQ(v().speedLabel->text(), "12.3");

    // Beyond the slider's range: the read-out shows the stored number.
    store.setObject("scrollSpeed", 80.0);
    window->showWindow();
    EXPECT_EQ(v().speedSlider->value(), v().speedSlider->maximum());
    EXPECT_EQ(v().speedLabel->text(), "80.0");

    for (double bad : {0.0, -2.0}) {
        store.setObject("scrollSpeed", bad);
        window->showWindow();
        EXPECT_EQ(v().speedLabel->text(), "3.0");
        EXPECT_EQ(v().speedSlider->value(), 3000);
        EXPECT_EQ(store.doubleValue("scrollSpeed"), bad) << "showing does not repair the store";
    }
    store.setObject("scrollSpeed", std::string("fast"));
    window->showWindow();
    EXPECT_EQ(v().speedLabel->text(), "3.0");
    EXPECT_TRUE(outside.events.empty());
}

TEST_F(PreferencesWindowTest, MovingTheSliderStoresTheExactValueAndReportsItRounded) {
    window->showWindow();
    v().speedSlider->setValue(7460);
    EXPECT_EQ(store.object("scrollSpeed"), SettingsValue{7.46});
    EXPECT_EQ(v().speedLabel->text(), "7.5");
    ASSERT_EQ(outside.events.size(), 1u);
    EXPECT_EQ(outside.events[0].params,
              QJsonObject({{"setting_name", "scroll_speed"}, {"setting_value", "7.5"}}));

    // The keyboard moves it by a tenth and each step is stored and reported.
    v().speedSlider->setFocus();
    QTest::keyClick(v().speedSlider, Qt::Key_Right);
    EXPECT_DOUBLE_EQ(store.doubleValue("scrollSpeed"), 7.56);
    EXPECT_EQ(outside.events.size(), 2u);

    // The ends of the range.
    v().speedSlider->setValue(0);
    EXPECT_EQ(store.object("scrollSpeed"), SettingsValue{1.0});
    v().speedSlider->setValue(1'000'000);
    EXPECT_EQ(store.object("scrollSpeed"), SettingsValue{50.0});
    EXPECT_EQ(v().speedLabel->text(), "50.0");
}

// A drag reports once, when it ends: one write and one usage event, not one
// per pixel. Meanwhile only the read-out follows the handle.
TEST_F(PreferencesWindowTest, DraggingTheSliderReportsOnceWhenTheDragEnds) {
    window->showWindow();
    QSlider* slider = v().speedSlider;
    QStyleOptionSlider option;
    option.initFrom(slider);
    option.orientation = slider->orientation();
    option.minimum = slider->minimum();
    option.maximum = slider->maximum();
    option.sliderPosition = slider->sliderPosition();
    const QPoint handle =
        slider->style()
            ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider)
            .center();

    QTest::mousePress(slider, Qt::LeftButton, {}, handle);
    for (int dx = 1; dx <= 40; ++dx)
        QTest::mouseMove(slider, handle + QPoint(dx, 0));
    EXPECT_NE(v().speedLabel->text(), "3.0");
    EXPECT_EQ(store.size(), 0u);
    EXPECT_TRUE(outside.events.empty());

    QTest::mouseRelease(slider, Qt::LeftButton, {}, handle + QPoint(40, 0));
    ASSERT_EQ(outside.events.size(), 1u);
    EXPECT_EQ(outside.events[0].params["setting_value"], v().speedLabel->text());
    EXPECT_EQ(PreferencesWindow::formatSpeed(store.doubleValue("scrollSpeed")),
              v().speedLabel->text());
    EXPECT_GT(store.doubleValue("scrollSpeed"), 3.0);
}

// A wheel notch over a control, delivered as the window system delivers it
// (so a control that takes focus from the wheel would get it).
void wheelOver(QWidget* control) {
    const QPointF centre = QRectF(control->rect()).center();
    QWheelEvent notch(centre, control->mapToGlobal(centre), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QSpontaneKeyEvent::setSpontaneous(&notch);
    qApp->notify(control, &notch);
}

// Scrolling over the window (Quillmere's own grab scrolling included) must
// not change the language or the speed: only a control focused by a click
// or Tab takes the wheel.
TEST_F(PreferencesWindowTest, TheWheelChangesOnlyAFocusedControl) {
    window->showWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    for (QWidget* control :
         {static_cast<QWidget*>(v().langPopup), static_cast<QWidget*>(v().speedSlider)})
        wheelOver(control);
    EXPECT_EQ(v().langPopup->currentIndex(), 0);
    EXPECT_EQ(v().speedLabel->text(), "3.0");
    EXPECT_EQ(store.size(), 0u);
    EXPECT_TRUE(outside.events.empty());

    v().langPopup->setFocus(Qt::TabFocusReason);
    wheelOver(v().langPopup);
    EXPECT_EQ(store.string("language"), "ko");
    v().speedSlider->setFocus(Qt::MouseFocusReason);
    wheelOver(v().speedSlider);
    EXPECT_NE(store.doubleValue("scrollSpeed"), 0.0);
}

TEST_F(PreferencesWindowTest, ChoosingALanguageStoresRetitlesPostsThenReports) {
    window->showWindow();
    const QString englishSubtitle = v().subtitleLabel->text();
    const QString versionBefore = v().versionLabel->text();
    const QString contactBefore = v().contactLabel->text();
    const QString linkBefore = v().websiteLink->text();

    // What the notice's observers see when it arrives.
    std::string storedAtPost;
    QString subtitleAtPost;
    std::size_t eventsAtPost = 99;
    QSignalSpy posted(&LanguageNotifier::instance(), &LanguageNotifier::languageDidChange);
    const auto connection =
        QObject::connect(&LanguageNotifier::instance(), &LanguageNotifier::languageDidChange, [&] {
            storedAtPost = store.string("language").value_or("");
            subtitleAtPost = v().subtitleLabel->text();
            eventsAtPost = outside.events.size();
        });

    // The user picks the second entry with the keyboard.
    v().langPopup->setFocus();
    QTest::keyClick(v().langPopup, Qt::Key_Down);
    QObject::disconnect(connection);

    EXPECT_EQ(store.string("language"), "ko");
    ASSERT_EQ(posted.count(), 1);
    EXPECT_EQ(storedAtPost, "ko");
    EXPECT_EQ(subtitleAtPost, L10n::subtitle()) << "re-titled before the notice";
    EXPECT_EQ(eventsAtPost, 0u) << "reported after the notice";
    ASSERT_EQ(outside.events.size(), 1u);
    EXPECT_EQ(outside.events[0].name, "language_changed");
    EXPECT_EQ(outside.events[0].params, QJsonObject({{"language", "ko"}}));

    // All twelve texts come from the Korean table now.
    EXPECT_NE(v().subtitleLabel->text(), englishSubtitle);
    const std::pair<QString, QString> texts[] = {
        {v().subtitleLabel->text(), L10n::subtitle()},
        {v().dirLabel->text(), L10n::scrollDirection()},
        {shownText(box("vertical_scroll")), L10n::verticalScroll()},
        {shownText(box("horizontal_scroll")), L10n::horizontalScroll()},
        {shownText(box("diagonal_scroll")), L10n::diagonalScroll()},
        {v().behLabel->text(), L10n::behavior()},
        {shownText(box("reverse_scroll")), L10n::reverseScroll()},
        {shownText(box("smooth_scroll")), L10n::smoothScroll()},
        {shownText(box("momentum_scroll")), L10n::momentumScroll()},
        {shownText(box("launch_at_login")), L10n::launchAtLogin()},
        {v().speedTitle->text(), L10n::scrollSpeed()},
        {v().langLabel->text(), L10n::languageLabel()},
    };
    for (const auto& [shown, expected] : texts)
        EXPECT_EQ(shown, expected);
    EXPECT_EQ(v().versionLabel->text(), versionBefore);
    EXPECT_EQ(v().contactLabel->text(), contactBefore);
    EXPECT_EQ(v().websiteLink->text(), linkBefore);
    EXPECT_EQ(v().langPopup->itemText(0), "English");
}

TEST_F(PreferencesWindowTest, NoSelectionStoresEnglishAndUnknownCodesShowEnglish) {
    store.setObject("language", std::string("xx"));
    window->showWindow();
    EXPECT_EQ(v().langPopup->currentIndex(), 0);
    EXPECT_EQ(store.string("language"), "xx") << "nothing written until the user picks";

    v().langPopup->setCurrentIndex(-1);
    window->languageChanged();
    EXPECT_EQ(store.string("language"), "en");
    ASSERT_EQ(outside.events.size(), 1u);
    EXPECT_EQ(outside.events[0].params, QJsonObject({{"language", "en"}}));
}

TEST_F(PreferencesWindowTest, ReopeningShowsTheSameWindowWithFreshValuesAndTheLinkOpens) {
    window->showWindow();
    EXPECT_TRUE(window->isVisible());
    window->close();
    EXPECT_FALSE(window->isVisible());

    store.setBool("diagonalScroll", true);
    store.setObject("scrollSpeed", 20.0);
    store.setObject("language", std::string("ja"));
    window->showWindow();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(box("diagonal_scroll")->isChecked());
    EXPECT_EQ(v().speedLabel->text(), "20.0");
    EXPECT_EQ(v().langPopup->currentIndex(), 7);
    EXPECT_EQ(v().behLabel->text(), L10n::behavior());

    // The link opens the website and reports nothing.
    click(v().websiteLink);
    EXPECT_EQ(outside.openedUrls, std::vector<QUrl>{QUrl(AppInfo::websiteUrl)});
    EXPECT_TRUE(outside.events.empty());
}

// The arrangement, read back from the widgets, left to right.
void expectArrangement(const PreferencesWindow& window) {
    const PreferencesWindow::Views& v = window.views();
    EXPECT_EQ(window.minimumSize(), QSize(416, 520));
    EXPECT_EQ(window.maximumSize(), QSize(416, 520));
    EXPECT_EQ(v.band->geometry(), QRect(0, 0, 416, 84));
    EXPECT_EQ(v.background->geometry(), QRect(0, 0, 416, 520));
    EXPECT_EQ(v.versionLabel->pos(), QPoint(24, 36));
    EXPECT_EQ(v.subtitleLabel->pos(), QPoint(24, bottomOf(v.versionLabel) + 2));

    EXPECT_EQ(v.directionCard->geometry().topLeft(), QPoint(24, 84 + 16));
    EXPECT_EQ(v.directionCard->width(), 368);
    // Each card's rows hang from its heading: the first 8 below it, then 6
    // apart. Returns the last row.
    const auto expectRows = [&window](const QLabel* heading, std::vector<const char*> names) {
        EXPECT_EQ(heading->pos(), QPoint(24, 14));
        const QWidget* above = heading;
        for (const char* name : names) {
            const QWidget* row = window.checkbox(name);
            EXPECT_EQ(row->parentWidget(), heading->parentWidget()) << name;
            EXPECT_EQ(row->pos(), QPoint(24, bottomOf(above) + (above == heading ? 8 : 6))) << name;
            above = row;
        }
        return above;
    };
    const QWidget* last =
        expectRows(v.dirLabel, {"vertical_scroll", "horizontal_scroll", "diagonal_scroll"});
    EXPECT_EQ(v.directionCard->height(), bottomOf(last) + 14);

    EXPECT_EQ(v.behaviourCard->geometry().topLeft(), QPoint(24, bottomOf(v.directionCard) + 10));
    EXPECT_EQ(v.behaviourCard->width(), 368);
    last = expectRows(v.behLabel,
                      {"reverse_scroll", "smooth_scroll", "momentum_scroll", "launch_at_login"});
    EXPECT_EQ(v.speedTitle->pos(), QPoint(24, bottomOf(last) + 10));
    EXPECT_EQ(v.behaviourCard->height(), bottomOf(v.speedTitle) + 14);
    EXPECT_EQ(v.speedSlider->x(), v.speedTitle->geometry().right() + 1 + 8);
    EXPECT_NEAR(v.speedSlider->geometry().center().y(), v.speedTitle->geometry().center().y(), 1);
    EXPECT_EQ(v.speedLabel->x(), v.speedSlider->geometry().right() + 1 + 6);
    EXPECT_NEAR(v.speedLabel->geometry().center().y(), v.speedTitle->geometry().center().y(), 1);

    EXPECT_EQ(v.languageCard->geometry().topLeft(), QPoint(24, bottomOf(v.behaviourCard) + 10));
    EXPECT_EQ(v.languageCard->width(), 368);
    EXPECT_EQ(v.langLabel->pos(), QPoint(24, 14));
    EXPECT_EQ(v.languageCard->height(), bottomOf(v.langLabel) + 14);
    EXPECT_EQ(v.langPopup->x(), v.langLabel->geometry().right() + 1 + 12);
    EXPECT_EQ(v.langPopup->width(), 160);
    EXPECT_NEAR(v.langPopup->geometry().center().y(), v.langLabel->geometry().center().y(), 1);

    EXPECT_EQ(v.websiteLink->y(), bottomOf(v.languageCard) + 12);
    EXPECT_NEAR(v.websiteLink->x() + v.websiteLink->width() / 2.0, 416 / 2.0 - 50, 1);
    EXPECT_EQ(v.contactLabel->x(), v.websiteLink->geometry().right() + 1);
    EXPECT_NEAR(v.contactLabel->geometry().center().y(), v.websiteLink->geometry().center().y(), 1);
}

TEST_F(PreferencesWindowTest, EnglishLayoutKeepsEveryDistance) {
    window->showWindow();
    expectArrangement(*window);
    EXPECT_EQ(v().speedSlider->width(), 200);
}

// Every text fits: each widget is at least as large as its content asks,
// lies inside its card and the window, and no two rows overlap.
TEST_F(PreferencesWindowTest, EveryLanguageFitsWithoutClippingOrOverlap) {
    for (Language language : Languages::allCases()) {
        const std::string code(Languages::rawValue(language));
        SCOPED_TRACE(code);
        store.setObject("language", code);
        window->showWindow();
        const QRect windowRect = window->rect();
        // The window only grows where the texts' fonts need it, and then
        // just enough to keep the gap under the link.
        EXPECT_EQ(window->width(), 416);
        EXPECT_EQ(window->height(), std::max(520, bottomOf(v().websiteLink) + 12));
        if (code == "en" || code == "ko" || code == "ar" || code == "de" || code == "fi") {
            EXPECT_EQ(window->height(), 520);
        }
        std::vector<QWidget*> texts;
        for (QWidget* card :
             {static_cast<QWidget*>(v().directionCard), static_cast<QWidget*>(v().behaviourCard),
              static_cast<QWidget*>(v().languageCard)}) {
            EXPECT_TRUE(windowRect.contains(inWindow(card)));
            for (QWidget* child : card->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                EXPECT_TRUE(card->rect().contains(child->geometry()))
                    << child->metaObject()->className() << " leaves its card";
                texts.push_back(child);
            }
        }
        for (QWidget* header :
             {static_cast<QWidget*>(v().versionLabel), static_cast<QWidget*>(v().subtitleLabel)})
            EXPECT_TRUE(v().band->rect().contains(header->geometry()));
        EXPECT_TRUE(windowRect.contains(inWindow(v().websiteLink)));
        EXPECT_TRUE(windowRect.contains(inWindow(v().contactLabel)));
        for (QLabel* label : window->findChildren<QLabel*>())
            EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
        for (QCheckBox* box : window->findChildren<QCheckBox*>()) {
            EXPECT_GE(box->width(), box->sizeHint().width());
            EXPECT_GE(box->height(), box->fontMetrics().height());
        }
        for (std::size_t i = 0; i < texts.size(); ++i)
            for (std::size_t j = i + 1; j < texts.size(); ++j)
                EXPECT_FALSE(inWindow(texts[i]).intersects(inWindow(texts[j])))
                    << texts[i]->metaObject()->className() << " overlaps "
                    << texts[j]->metaObject()->className();
    }
}

TEST_F(PreferencesWindowTest, RightToLeftLanguagesMirrorTheLayout) {
    store.setObject("language", std::string("ar"));
    window->showWindow();
    EXPECT_EQ(window->layoutDirection(), Qt::RightToLeft);
    EXPECT_EQ(box("vertical_scroll")->layoutDirection(), Qt::RightToLeft);
    // Leading edges are the right ones now.
    EXPECT_EQ(v().versionLabel->geometry().right() + 1, 416 - 24);
    EXPECT_EQ(v().directionCard->geometry().right() + 1, 416 - 24);
    EXPECT_EQ(v().dirLabel->geometry().right() + 1, 368 - 24);
    EXPECT_EQ(box("diagonal_scroll")->geometry().right() + 1, 368 - 24);
    EXPECT_EQ(v().speedSlider->geometry().right() + 1 + 8, v().speedTitle->x());
    EXPECT_EQ(v().speedLabel->geometry().right() + 1 + 6, v().speedSlider->x());
    EXPECT_EQ(v().langPopup->geometry().right() + 1 + 12, v().langLabel->x());
    EXPECT_NEAR(v().websiteLink->x() + v().websiteLink->width() / 2.0, 416 / 2.0 + 50, 1);
    EXPECT_EQ(v().contactLabel->geometry().right() + 1, v().websiteLink->x());
    EXPECT_TRUE(v().contactLabel->text().startsWith(QChar(0x200F)));

    // Back to a left-to-right language through the pop-up.
    v().langPopup->setCurrentIndex(0);
    window->languageChanged();
    EXPECT_EQ(window->layoutDirection(), Qt::LeftToRight);
    expectArrangement(*window);
    EXPECT_FALSE(v().contactLabel->text().startsWith(QChar(0x200F)));
}

} // namespace
} // namespace quillmere::testing
