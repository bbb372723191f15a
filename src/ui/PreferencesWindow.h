#pragma once
// The settings window: every control writes its setting the moment it
// changes and reports the change as a usage event. There is no OK or Apply.

#include <QJsonObject>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <string_view>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;
class QAbstractButton;

namespace quillmere {

class CardView;
class GradientView;

// What the window calls outside the user interface; the application wires
// the real services, tests substitute recorders.
struct PreferencesActions {
    std::function<void(const QString& name, const QJsonObject& params)> sendEvent;
    std::function<void(bool enabled)> setLaunchAtLogin;
    std::function<bool()> isLaunchAtLoginEnabled;
    std::function<void(const QUrl& url)> openUrl;
};

class PreferencesWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int windowWidth = 416;
    static constexpr int windowHeight = 520;
    static constexpr int bandHeight = 84;
    // The slider works in thousandths so that any value with up to three
    // decimals between 1.0 and 50.0 can be chosen.
    static constexpr int sliderScale = 1000;
    static constexpr double minimumSpeed = 1.0;
    static constexpr double maximumSpeed = 50.0;

    explicit PreferencesWindow(PreferencesActions actions, QWidget* parent = nullptr);
    ~PreferencesWindow() override;

    // Refreshes every control from the store, re-titles the window, brings
    // it to the front and activates it.
    void showWindow();

    // The views later code reaches; fixed once built.
    struct Views {
        GradientView* background = nullptr;
        QWidget* band = nullptr;
        QLabel* versionLabel = nullptr;
        QLabel* subtitleLabel = nullptr;
        CardView* directionCard = nullptr;
        QLabel* dirLabel = nullptr;
        CardView* behaviourCard = nullptr;
        QLabel* behLabel = nullptr;
        // The check boxes in the order of their table, the direction card's
        // first.
        std::vector<QCheckBox*> checkboxes;
        QLabel* speedTitle = nullptr;
        QSlider* speedSlider = nullptr;
        QLabel* speedLabel = nullptr;
        CardView* languageCard = nullptr;
        QLabel* langLabel = nullptr;
        QComboBox* langPopup = nullptr;
        QAbstractButton* websiteLink = nullptr;
        QLabel* contactLabel = nullptr;
    };
    const Views& views() const { return views_; }
    // The check box whose usage event names the setting ("vertical_scroll",
    // "launch_at_login"...), or nullptr.
    QCheckBox* checkbox(std::string_view settingName) const;

    // "%.1f" of a speed, as the read-out and the usage event show it.
    static QString formatSpeed(double speed);
    // The contact label: " | " and the e-mail address, led by a
    // right-to-left mark in a mirrored window.
    static QString contactText(bool rightToLeft);

public slots:
    void speedChanged();
    void languageChanged();
    void openWebsite();

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void setupUI();
    QLabel* makeSectionLabel(QWidget* parent);
    void updateStrings();
    void layoutContents();
    void refreshControls();
    void selectStoredLanguage();
    void setSpeedControls(double speed);
    void checkboxClicked(std::size_t row);
    void send(const QString& name, const QJsonObject& params);

    PreferencesActions actions_;
    Views views_;
};

} // namespace quillmere
