// The preferences window: what each control stores and reports, how the
// window refreshes from the store, that everything fits in every language
// and mirrored for right-to-left ones, and its background's pixels.

#include "support/StoreTest.h"

#include "AppInfo.h"
#include "ui/GradientView.h"
#include "ui/Localization.h"
#include "ui/PreferencesWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QJsonObject>
#include <QLabel>
#include <QSlider>
#include <QTest>
#include <QUrl>
#include <QWheelEvent>
#include <QtTest/qtestspontaneevent.h>

#include <map>

namespace quillmere::testing {
namespace {

struct SentEvent {
    QString name;
    QJsonObject params;
    bool operator==(const SentEvent&) const = default;
};

// A window whose outside world is recorded: usage events, launch at login
// (registration always fails: the state stays what `registered` says) and
// opened links.
class PreferencesWindowTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        window = std::make_unique<PreferencesWindow>(PreferencesActions{
            [this](const QString& name, const QJsonObject& params) {
                events.push_back({name, params});
            },
            [this](bool on) { launchAtLoginCalls.push_back(on); }, [this] { return registered; },
            [this](const QUrl& url) { openedUrls.push_back(url); }});
    }

    const PreferencesWindow::Views& v() const { return window->views(); }
    QCheckBox* box(const char* settingName) const { return window->checkbox(settingName); }
    void click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton); }

    std::vector<SentEvent> events;
    std::vector<bool> launchAtLoginCalls;
    bool registered = true;
    std::vector<QUrl> openedUrls;
    std::unique_ptr<PreferencesWindow> window;
};

// From the defaults on an empty store (launch at login as registered),
// every control stores its value and reports each change, in order; each
// showing reads the store afresh.
TEST_F(PreferencesWindowTest, EachControlStoresItsValueAndReportsEveryChangeShowingReadsTheStore) {
    window->showWindow();
    EXPECT_EQ(store.size(), 0u);
    std::vector<SentEvent> expected;
    const auto changed = [&](const char* name, const char* value) {
        expected.push_back({"setting_changed", {{"setting_name", name}, {"setting_value", value}}});
    };
    // Each check box shows the setting's default and stores its own key
    // only, also when the store already holds the value a click gives.
    const std::tuple<const char*, const char*, bool> rows[] = {
        {"vertical_scroll", "enableVerticalScroll", true},
        {"horizontal_scroll", "enableHorizontalScroll", true},
        {"diagonal_scroll", "diagonalScroll", false},
        {"reverse_scroll", "reverseScroll", true},
        {"smooth_scroll", "usePixelScrolling", true},
        {"momentum_scroll", "momentumScroll", true}};
    for (const auto& [settingName, key, byDefault] : rows) {
        const bool before = box(settingName)->isChecked();
        EXPECT_EQ(before, byDefault) << key;
        const std::size_t sizeBefore = store.size();
        click(box(settingName));
        EXPECT_EQ(store.boolValue(key), !before);
        EXPECT_EQ(store.size(), sizeBefore + 1) << key << ": a click writes its own key only";
        store.setBool(key, before); // behind the window's back
        click(box(settingName));
        EXPECT_EQ(store.boolValue(key), before);
        changed(settingName, before ? "false" : "true");
        changed(settingName, before ? "true" : "false");
    }
    // Launch at login goes through the helper, which fails here: the box
    // keeps the click until shown again. The window never writes the key.
    click(box("launch_at_login"));
    changed("launch_at_login", "false");
    EXPECT_EQ(launchAtLoginCalls, std::vector<bool>{false});
    EXPECT_FALSE(box("launch_at_login")->isChecked());
    window->showWindow();
    EXPECT_TRUE(box("launch_at_login")->isChecked());
    EXPECT_EQ(store.object("launchAtLogin"), SettingsValue{});
    // The slider stores exactly what it shows, in thousandths, and reports it
    // rounded, each keyboard step too. A drag reports once, when it ends:
    // meanwhile only the read-out follows the handle.
    v().speedSlider->setValue(7460);
    EXPECT_EQ(store.object("scrollSpeed"), SettingsValue{7.46});
    EXPECT_EQ(v().speedLabel->text(), "7.5");
    v().speedSlider->setFocus();
    QTest::keyClick(v().speedSlider, Qt::Key_Right);
    EXPECT_DOUBLE_EQ(store.doubleValue("scrollSpeed"), 7.56);
    v().speedSlider->setSliderDown(true);
    for (int position = 7500; position >= 3000; position -= 100)
        v().speedSlider->setSliderPosition(position);
    EXPECT_EQ(v().speedLabel->text(), "3.0");
    EXPECT_DOUBLE_EQ(store.doubleValue("scrollSpeed"), 7.56);
    v().speedSlider->setSliderDown(false);
    EXPECT_EQ(store.object("scrollSpeed"), SettingsValue{3.0});
    for (const char* speed : {"7.5", "7.6", "3.0"})
        changed("scroll_speed", speed);
    // The link opens the website and reports nothing.
    click(v().websiteLink);
    EXPECT_EQ(openedUrls, std::vector<QUrl>{QUrl(AppInfo::websiteUrl)});
    // Shown again, the window reads the store afresh and shows a bad speed
    // as the default, an unknown language as English, without repairing the
    // store, and reports nothing.
    const std::pair<SettingsValue, const char*> speeds[] = {
        {12.34, "12.3"}, {80.0, "80.0"}, {0.0, "3.0"}, {-2.0, "3.0"}, {std::string("fast"), "3.0"}};
    for (const auto& [value, text] : speeds) {
        store.setObject("scrollSpeed", value);
        window->showWindow();
        EXPECT_EQ(v().speedLabel->text(), text);
        EXPECT_EQ(store.object("scrollSpeed"), value);
    }
    for (const auto& [code, index] : {std::pair{"ja", 7}, {"xx", 0}}) {
        store.setObject("language", std::string(code));
        window->showWindow();
        EXPECT_EQ(v().langPopup->currentIndex(), index);
        EXPECT_EQ(store.string("language"), code);
    }
    EXPECT_EQ(events, expected);
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
// or Tab takes the wheel. A language chosen is stored first, then the texts
// are re-read, then the notice is posted, then the change reported.
TEST_F(PreferencesWindowTest, OnlyAFocusedControlTakesTheWheelAndALanguageIsStoredBeforeItsNotice) {
    window->showWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    wheelOver(v().langPopup);
    wheelOver(v().speedSlider);
    EXPECT_EQ(v().langPopup->currentIndex(), 0);
    EXPECT_EQ(store.size(), 0u);

    std::vector<QString> seenAtNotice; // stored code, subtitle, events sent
    const auto connection =
        QObject::connect(&LanguageNotifier::instance(), &LanguageNotifier::languageDidChange, [&] {
            seenAtNotice = {QString::fromStdString(store.string("language").value_or("")),
                            v().subtitleLabel->text(), QString::number(events.size())};
        });
    v().langPopup->setFocus(Qt::TabFocusReason);
    wheelOver(v().langPopup);
    QObject::disconnect(connection);
    EXPECT_EQ(seenAtNotice, (std::vector<QString>{"ko", L10n::subtitle(), "0"}));
    EXPECT_EQ(events, (std::vector<SentEvent>{{"language_changed", {{"language", "ko"}}}}));
    v().speedSlider->setFocus(Qt::MouseFocusReason);
    wheelOver(v().speedSlider);
    EXPECT_NE(store.doubleValue("scrollSpeed"), 0.0);
}

// Every text fits: each widget is at least as large as its content asks,
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
        const QList<QWidget*> shown = window->findChildren<QWidget*>();
        for (const QWidget* a : shown) {
            if (!a->isVisible() || a == v().background) // the background lies under all
                continue;
            EXPECT_TRUE(a->parentWidget()->rect().contains(a->geometry())) << name(a);
            const bool box = qobject_cast<const QCheckBox*>(a);
            EXPECT_TRUE(!(box || qobject_cast<const QLabel*>(a)) ||
                        a->width() >= a->sizeHint().width())
                << name(a);
            EXPECT_TRUE(!box || a->height() >= a->fontMetrics().height()) << name(a);
            for (const QWidget* b : shown)
                EXPECT_FALSE(a < b && b->isVisible() && b != v().background &&
                             b->parentWidget() == a->parentWidget() &&
                             a->geometry().intersects(b->geometry()))
                    << name(a) << " overlaps " << name(b);
        }
        if (!Languages::isRightToLeft(language))
            continue;
        // The leading edge: where the check boxes start in English.
        const int lead = english.at(v().checkboxes[0]).left();
        for (const auto& [widget, rect] : english)
            EXPECT_TRUE(rect.left() != lead ||
                        widget->parentWidget()->width() - widget->geometry().right() - 1 == lead)
                << name(widget);
        EXPECT_LT(v().speedSlider->x(), v().speedTitle->x());
        EXPECT_LT(v().speedLabel->x(), v().speedSlider->x());
        EXPECT_LT(v().langPopup->x(), v().langLabel->x());
        EXPECT_EQ(v().contactLabel->geometry().right() + 1, v().websiteLink->x());

        v().langPopup->setCurrentIndex(0);
        window->languageChanged();
        EXPECT_EQ(geometries(), english);
    }
}

// Every pixel is painted (the view claims to be opaque), and a partial
// repaint matches the full picture: the gradient spans the whole view
// whatever part is redrawn.
TEST(GradientView, PaintsEveryPixelAndAPartialRepaintMatchesTheWhole) {
    GradientView view;
    view.resize(416, 520);
    const auto render = [&view](const QRegion& region) {
        QImage image(view.size(), QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        view.render(&image, QPoint(), region);
        return image;
    };
    const QImage image = render({});
    EXPECT_EQ(qAlpha(image.pixel(415, 0)), 255);
    EXPECT_EQ(qAlpha(image.pixel(0, 519)), 255);
    const QImage part = render(QRegion(200, 60, 20, 20)); // lands on the image's corner
    for (QPoint p : {QPoint(200, 60), QPoint(219, 79), QPoint(210, 70)})
        EXPECT_EQ(part.pixel(p - QPoint(200, 60)), image.pixel(p));
}

} // namespace
} // namespace quillmere::testing
