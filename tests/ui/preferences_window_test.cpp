// The preferences window: what each control stores and reports, how the
// window refreshes from the store, and that everything fits in every
// language and mirrored for right-to-left ones.

#include "UiTestSupport.h"

#include "AppInfo.h"
#include "ui/CardView.h"
#include "ui/GradientView.h"
#include "ui/Localization.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSlider>
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

    const PreferencesWindow::Views& v() const { return window->views(); }
    QCheckBox* box(const char* settingName) const { return window->checkbox(settingName); }

    void click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton); }

    OutsideWorld outside;
    std::unique_ptr<PreferencesWindow> window;
};

// The defaults on an empty store, launch at login as registered; showing
// writes and reports nothing. Each check box stores its own key only and
// reports every click, also one whose value the store already holds.
TEST_F(PreferencesWindowTest, EachCheckboxShowsItsDefaultStoresItsKeyAndReportsEveryClick) {
    outside.launchAtLoginRegistered = true;
    window->showWindow();
    EXPECT_TRUE(box("launch_at_login")->isChecked());
    EXPECT_EQ(v().speedLabel->text(), "3.0");
    EXPECT_EQ(v().langPopup->currentIndex(), 0);
    EXPECT_EQ(store.size(), 0u);
    const std::tuple<const char*, const char*, bool> rows[] = {
        {"vertical_scroll", "enableVerticalScroll", true},
        {"horizontal_scroll", "enableHorizontalScroll", true},
        {"diagonal_scroll", "diagonalScroll", false},
        {"reverse_scroll", "reverseScroll", true},
        {"smooth_scroll", "usePixelScrolling", true},
        {"momentum_scroll", "momentumScroll", true},
    };
    std::vector<SentEvent> expected;
    for (const auto& [settingName, key, byDefault] : rows) {
        SCOPED_TRACE(key);
        EXPECT_EQ(box(settingName)->isChecked(), byDefault);
        const std::size_t sizeBefore = store.size();
        click(box(settingName));
        EXPECT_EQ(store.boolValue(key), !byDefault);
        EXPECT_EQ(store.size(), sizeBefore + 1) << "a click writes its own key only";
        store.setBool(key, byDefault); // behind the window's back
        click(box(settingName));
        EXPECT_EQ(store.boolValue(key), byDefault);
        for (const bool value : {!byDefault, byDefault})
            expected.push_back(
                {"setting_changed",
                 {{"setting_name", settingName}, {"setting_value", value ? "true" : "false"}}});
    }
    EXPECT_EQ(outside.events, expected);
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

// The read-out shows the stored number as it is (a bad one as the default),
// without repairing the store; the slider stores exactly what it shows, in
// thousandths, and reports it rounded, each keyboard step too.
TEST_F(PreferencesWindowTest, SpeedIsShownAsStoredAndStoredExactlyAsChosen) {
    const std::pair<SettingsValue, const char*> shown[] = {
        {12.34, "12.3"}, {80.0, "80.0"}, {0.0, "3.0"}, {-2.0, "3.0"}, {std::string("fast"), "3.0"}};
    for (const auto& [value, text] : shown) {
        store.setObject("scrollSpeed", value);
        window->showWindow();
        EXPECT_EQ(v().speedLabel->text(), text);
        EXPECT_EQ(store.object("scrollSpeed"), value);
    }
    EXPECT_TRUE(outside.events.empty());

    v().speedSlider->setValue(7460);
    EXPECT_EQ(store.object("scrollSpeed"), SettingsValue{7.46});
    EXPECT_EQ(v().speedLabel->text(), "7.5");
    ASSERT_EQ(outside.events.size(), 1u);
    EXPECT_EQ(outside.events[0].params,
              QJsonObject({{"setting_name", "scroll_speed"}, {"setting_value", "7.5"}}));
    v().speedSlider->setFocus();
    QTest::keyClick(v().speedSlider, Qt::Key_Right);
    EXPECT_DOUBLE_EQ(store.doubleValue("scrollSpeed"), 7.56);
    EXPECT_EQ(outside.events.size(), 2u);
}

// A drag reports once, when it ends: one write and one usage event, not one
// per pixel. Meanwhile only the read-out follows the handle.
TEST_F(PreferencesWindowTest, DraggingTheSliderReportsOnceWhenTheDragEnds) {
    window->showWindow();
    QSlider* slider = v().speedSlider;
    slider->setSliderDown(true);
    for (int position = 3100; position <= 7000; position += 100)
        slider->setSliderPosition(position);
    EXPECT_EQ(v().speedLabel->text(), "7.0");
    EXPECT_EQ(store.size(), 0u);
    EXPECT_TRUE(outside.events.empty());
    slider->setSliderDown(false);
    EXPECT_EQ(store.object("scrollSpeed"), SettingsValue{7.0});
    ASSERT_EQ(outside.events.size(), 1u);
    EXPECT_EQ(outside.events[0].params["setting_value"], "7.0");
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
    wheelOver(v().langPopup);
    wheelOver(v().speedSlider);
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

// Stored first, then the texts re-read, then the notice, then the report.
TEST_F(PreferencesWindowTest, ChoosingALanguageStoresRetitlesPostsThenReports) {
    window->showWindow();
    std::vector<QString> seenAtNotice; // stored code, subtitle, events sent
    const auto connection =
        QObject::connect(&LanguageNotifier::instance(), &LanguageNotifier::languageDidChange, [&] {
            seenAtNotice = {QString::fromStdString(store.string("language").value_or("")),
                            v().subtitleLabel->text(), QString::number(outside.events.size())};
        });
    v().langPopup->setFocus(); // the user picks the second entry with the keyboard
    QTest::keyClick(v().langPopup, Qt::Key_Down);
    QObject::disconnect(connection);
    EXPECT_EQ(seenAtNotice, (std::vector<QString>{"ko", L10n::subtitle(), "0"}));
    EXPECT_EQ(outside.events, (std::vector<SentEvent>{{"language_changed", {{"language", "ko"}}}}));
}

// Closed and shown again, the window reads the store afresh, an unknown
// code showing English without being rewritten; no selection stores English.
// The link opens the website and reports nothing.
TEST_F(PreferencesWindowTest, ReopeningShowsFreshValuesAndTheLinkOpens) {
    window->showWindow();
    window->close();
    store.setBool("diagonalScroll", true);
    store.setObject("scrollSpeed", 20.0);
    store.setObject("language", std::string("ja"));
    window->showWindow();
    EXPECT_TRUE(box("diagonal_scroll")->isChecked());
    EXPECT_EQ(v().speedLabel->text(), "20.0");
    EXPECT_EQ(v().langPopup->currentIndex(), 7);
    store.setObject("language", std::string("xx"));
    window->showWindow();
    EXPECT_EQ(v().langPopup->currentIndex(), 0);
    EXPECT_EQ(store.string("language"), "xx");
    click(v().websiteLink);
    EXPECT_EQ(outside.openedUrls, std::vector<QUrl>{QUrl(AppInfo::websiteUrl)});
    EXPECT_TRUE(outside.events.empty());

    v().langPopup->setCurrentIndex(-1);
    window->languageChanged();
    EXPECT_EQ(store.string("language"), "en");
    EXPECT_EQ(outside.events, (std::vector<SentEvent>{{"language_changed", {{"language", "en"}}}}));
}

// Every control shows its own text in every language, and every text fits:
// each widget is at least as large as its content asks,
// lies inside its parent, and no two siblings overlap. Mirrored for a
// right-to-left language, every leading edge keeps its English distance, now
// from the right, and the rows run right to left; back to English through
// the pop-up, all is as before.
TEST_F(PreferencesWindowTest, EveryLanguageFitsAndRightToLeftOnesMirrorTheLayout) {
    const auto geometries = [this] {
        std::map<const QWidget*, QRect> all;
        for (const QWidget* widget : window->findChildren<QWidget*>())
            all[widget] = widget->geometry();
        return all;
    };
    const auto name = [](const QWidget* widget) { return widget->metaObject()->className(); };
    std::map<const QWidget*, QRect> english;
    for (Language language : Languages::allCases()) {
        const std::string code(Languages::rawValue(language));
        SCOPED_TRACE(code);
        store.setObject("language", code);
        window->showWindow();
        if (language == Language::english)
            english = geometries();
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
        const QList<QWidget*> shown = window->findChildren<QWidget*>();
        for (const QWidget* a : shown) {
            if (!a->isVisible() || a == v().background) // the background lies under all
                continue;
            EXPECT_TRUE(a->parentWidget()->rect().contains(a->geometry())) << name(a);
            for (const QWidget* b : shown)
                EXPECT_FALSE(a < b && b->isVisible() && b != v().background &&
                             b->parentWidget() == a->parentWidget() &&
                             a->geometry().intersects(b->geometry()))
                    << name(a) << " overlaps " << name(b);
        }
        for (QLabel* label : window->findChildren<QLabel*>())
            EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
        for (QCheckBox* box : window->findChildren<QCheckBox*>()) {
            EXPECT_GE(box->width(), box->sizeHint().width());
            EXPECT_GE(box->height(), box->fontMetrics().height());
        }
        if (!Languages::isRightToLeft(language))
            continue;
        EXPECT_EQ(window->layoutDirection(), Qt::RightToLeft);
        std::vector<const QWidget*> leading(v().checkboxes.begin(), v().checkboxes.end());
        leading.insert(leading.end(), {v().versionLabel, v().subtitleLabel, v().directionCard,
                                       v().behaviourCard, v().languageCard, v().dirLabel,
                                       v().behLabel, v().speedTitle, v().langLabel});
        for (const QWidget* widget : leading)
            EXPECT_EQ(widget->parentWidget()->width() - widget->geometry().right() - 1,
                      english.at(widget).left())
                << name(widget);
        EXPECT_LT(v().speedSlider->x(), v().speedTitle->x());
        EXPECT_LT(v().speedLabel->x(), v().speedSlider->x());
        EXPECT_LT(v().langPopup->x(), v().langLabel->x());
        EXPECT_EQ(v().contactLabel->geometry().right() + 1, v().websiteLink->x());
        EXPECT_TRUE(v().contactLabel->text().startsWith(QChar(0x200F)));

        v().langPopup->setCurrentIndex(0);
        window->languageChanged();
        EXPECT_EQ(geometries(), english);
        EXPECT_FALSE(v().contactLabel->text().startsWith(QChar(0x200F)));
    }
}

} // namespace
} // namespace quillmere::testing
