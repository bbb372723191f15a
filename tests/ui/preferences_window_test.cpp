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

    OutsideWorld outside;
    std::unique_ptr<PreferencesWindow> window;
};

// A rectangle in the window's coordinates.
QRect inWindow(const QWidget* widget) {
    return QRect(widget->mapTo(widget->window(), QPoint(0, 0)), widget->size());
}

// The defaults on an empty store, launch at login as registered; showing
// writes and reports nothing. Each check box stores its own key only and
// reports every click.
TEST_F(PreferencesWindowTest, EachCheckboxShowsItsDefaultStoresItsKeyAndReportsEveryClick) {
    outside.launchAtLoginRegistered = true;
    window->showWindow();
    EXPECT_TRUE(box("launch_at_login")->isChecked());
    EXPECT_EQ(v().speedLabel->text(), "3.0");
    EXPECT_EQ(v().langPopup->currentIndex(), 0);
    EXPECT_EQ(store.size(), 0u);
    EXPECT_TRUE(outside.events.empty());
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
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key);
        QCheckBox* const checkbox = box(row.settingName);
        ASSERT_NE(checkbox, nullptr);
        const bool before = checkbox->isChecked();
        EXPECT_EQ(before, row.byDefault);
        const std::size_t sizeBefore = store.size();
        outside.events.clear();
        click(checkbox);
        EXPECT_EQ(store.boolValue(row.key), !before);
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
        EXPECT_EQ(store.boolValue(row.key), before);
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
    for (const auto& [position, speed] : {std::pair{0, 1.0}, {1'000'000, 50.0}}) {
        v().speedSlider->setValue(position);
        EXPECT_EQ(store.object("scrollSpeed"), SettingsValue{speed});
    }
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

// Stored first, then every text re-read, then the notice, then the report.
TEST_F(PreferencesWindowTest, ChoosingALanguageStoresRetitlesPostsThenReports) {
    window->showWindow();
    std::vector<std::pair<std::string, QString>> seenAtNotice; // stored code, subtitle
    std::size_t eventsAtNotice = 99;
    const auto connection =
        QObject::connect(&LanguageNotifier::instance(), &LanguageNotifier::languageDidChange, [&] {
            seenAtNotice.emplace_back(store.string("language").value_or(""),
                                      v().subtitleLabel->text());
            eventsAtNotice = outside.events.size();
        });
    v().langPopup->setFocus(); // the user picks the second entry with the keyboard
    QTest::keyClick(v().langPopup, Qt::Key_Down);
    QObject::disconnect(connection);
    EXPECT_EQ(seenAtNotice,
              (std::vector<std::pair<std::string, QString>>{{"ko", L10n::subtitle()}}));
    EXPECT_EQ(eventsAtNotice, 0u);
    ASSERT_EQ(outside.events.size(), 1u);
    EXPECT_EQ(outside.events[0].name, "language_changed");
    EXPECT_EQ(outside.events[0].params, QJsonObject({{"language", "ko"}}));

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
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(box("diagonal_scroll")->isChecked());
    EXPECT_EQ(v().speedLabel->text(), "20.0");
    EXPECT_EQ(v().langPopup->currentIndex(), 7);
    EXPECT_EQ(v().behLabel->text(), L10n::behavior());
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
    ASSERT_EQ(outside.events.size(), 1u);
    EXPECT_EQ(outside.events[0].params, QJsonObject({{"language", "en"}}));
}

// Every text fits: each widget is at least as large as its content asks,
// lies inside its card and the window, and no two rows overlap. Mirrored for
// a right-to-left language, every leading edge keeps its English distance,
// now from the right, and the rows run right to left; back to English
// through the pop-up, all is as before.
TEST_F(PreferencesWindowTest, EveryLanguageFitsAndRightToLeftOnesMirrorTheLayout) {
    const auto geometries = [this] {
        std::map<const QWidget*, QRect> all;
        for (const QWidget* widget : window->findChildren<QWidget*>())
            all[widget] = widget->geometry();
        return all;
    };
    std::map<const QWidget*, QRect> english;
    for (Language language : Languages::allCases()) {
        const std::string code(Languages::rawValue(language));
        SCOPED_TRACE(code);
        store.setObject("language", code);
        window->showWindow();
        if (language == Language::english)
            english = geometries();
        const QRect windowRect = window->rect();
        const QWidget* const stack[] = {v().band, v().directionCard, v().behaviourCard,
                                        v().languageCard, v().websiteLink};
        for (std::size_t i = 1; i < std::size(stack); ++i)
            EXPECT_LT(inWindow(stack[i - 1]).bottom(), inWindow(stack[i]).top()) << i;
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
        if (!Languages::isRightToLeft(language))
            continue;
        EXPECT_EQ(window->layoutDirection(), Qt::RightToLeft);
        std::vector<const QWidget*> leading = {
            v().versionLabel,  v().subtitleLabel, v().directionCard,
            v().behaviourCard, v().languageCard,  v().dirLabel,
            v().behLabel,      v().speedTitle,    v().langLabel};
        leading.insert(leading.end(), v().checkboxes.begin(), v().checkboxes.end());
        for (const QWidget* widget : leading)
            EXPECT_EQ(widget->parentWidget()->width() - widget->geometry().right() - 1,
                      english.at(widget).left())
                << widget->metaObject()->className();
        EXPECT_LT(v().speedSlider->x(), v().speedTitle->x());
        EXPECT_LT(v().speedLabel->x(), v().speedSlider->x());
        EXPECT_LT(v().langPopup->x(), v().langLabel->x());
        EXPECT_EQ(v().contactLabel->geometry().right() + 1, v().websiteLink->x());
        EXPECT_TRUE(v().contactLabel->text().startsWith(QChar(0x200F)));

        v().langPopup->setCurrentIndex(0);
        window->languageChanged();
        EXPECT_EQ(window->layoutDirection(), Qt::LeftToRight);
        EXPECT_EQ(geometries(), english);
        EXPECT_FALSE(v().contactLabel->text().startsWith(QChar(0x200F)));
    }
}

} // namespace
} // namespace quillmere::testing
