#include "PreferencesWindow.h"

#include "AppInfo.h"
#include "AppStyle.h"
#include "CardView.h"
#include "FocusedWheel.h"
#include "GradientView.h"
#include "Localization.h"
#include "engine/ScrollConfig.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>

namespace quillmere {

namespace {

// Distances of the window's arrangement, in logical pixels.
constexpr int margin = 24;      // window edge to card, card edge to content
constexpr int cardPadding = 14; // card top to heading, last row to card bottom
constexpr int headingGap = 8;   // heading to first row
constexpr int rowGap = 6;       // between rows
constexpr int cardGap = 10;     // between cards
constexpr int linkGap = 12;     // last card to the website link
constexpr int versionTop = 36;  // band top to the version label
constexpr int sliderWidth = 200;
constexpr int popupWidth = 160;

// An underlined, borderless text button: the website link.
class LinkButton : public QAbstractButton {
public:
    explicit LinkButton(QWidget* parent) : QAbstractButton(parent) {
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
    }

    QSize sizeHint() const override {
        const QFontMetrics metrics(font());
        return {metrics.horizontalAdvance(text()) + 2, metrics.height()};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        QFont underlined = font();
        underlined.setUnderline(true);
        painter.setFont(underlined);
        painter.setPen(AppStyle::purpleLight());
        painter.drawText(rect(), Qt::AlignCenter, text());
        if (hasFocus()) {
            QStyleOptionFocusRect option;
            option.initFrom(this);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
        }
    }
};

void setTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    widget->setPalette(palette);
}

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Places a widget given by its left-to-right rectangle inside its parent,
// mirrored about the parent's vertical centre line when the window is laid
// out right to left.
void place(QWidget* widget, int x, int y, int width, int height) {
    const QWidget* parent = widget->parentWidget();
    if (parent && parent->layoutDirection() == Qt::RightToLeft)
        x = parent->width() - x - width;
    widget->setGeometry(x, y, width, height);
}

void placeAtSizeHint(QWidget* widget, int x, int y) {
    const QSize size = widget->sizeHint();
    place(widget, x, y, size.width(), size.height());
}

// A check box takes the width its style asks for, but only the height of
// its text line (in its own font or a fall-back one, or its indicator's if
// taller): the styles' hints add
// padding that would push the stack past the window's fixed height.
void placeCheckbox(QCheckBox* box, int x, int y) {
    const QSize text = box->fontMetrics().size(Qt::TextShowMnemonic, box->text());
    const int indicator = box->style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, box);
    const int line = std::max(text.height(), box->fontMetrics().height());
    place(box, x, y, box->sizeHint().width(), std::max(line, indicator));
}

int leftToRightX(const QWidget* widget) {
    const QWidget* parent = widget->parentWidget();
    if (parent && parent->layoutDirection() == Qt::RightToLeft)
        return parent->width() - widget->x() - widget->width();
    return widget->x();
}

int rightEdge(const QWidget* widget) {
    return leftToRightX(widget) + widget->width();
}

// The top that puts a widget of the given height on another's centre line.
int centredOn(const QWidget* anchor, int height) {
    return anchor->y() + (anchor->height() - height) / 2;
}

enum class Card { direction, behaviour };

// One row per check box: everything the window does with a box comes from
// here, so a new setting is one more row.
struct CheckboxRow {
    Card card;
    const char* settingName; // "setting_name" of its usage event
    QString (*text)();
    // The Boolean setting the box stores and its reader, which applies the
    // default. Launch at login has none: it goes through the login item.
    const char* key;
    bool (*stored)();
};

const CheckboxRow checkboxRows[] = {
    {Card::direction, "vertical_scroll", &L10n::verticalScroll, "enableVerticalScroll",
     &ScrollConfig::enableVerticalScroll},
    {Card::direction, "horizontal_scroll", &L10n::horizontalScroll, "enableHorizontalScroll",
     &ScrollConfig::enableHorizontalScroll},
    {Card::direction, "diagonal_scroll", &L10n::diagonalScroll, "diagonalScroll",
     &ScrollConfig::diagonalScroll},
    {Card::behaviour, "reverse_scroll", &L10n::reverseScroll, "reverseScroll",
     &ScrollConfig::reverseScroll},
    {Card::behaviour, "smooth_scroll", &L10n::smoothScroll, "usePixelScrolling",
     &ScrollConfig::usePixelScrolling},
    {Card::behaviour, "momentum_scroll", &L10n::momentumScroll, "momentumScroll",
     &ScrollConfig::momentumScroll},
    {Card::behaviour, "launch_at_login", &L10n::launchAtLogin, nullptr, nullptr},
};
constexpr std::size_t checkboxCount = std::size(checkboxRows);

} // namespace

PreferencesWindow::PreferencesWindow(PreferencesActions actions, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      actions_(std::move(actions)) {
    setFixedSize(windowWidth, windowHeight);
    // Taskbars and window switchers show the title, so it names the product.
    setWindowTitle(QString::fromLatin1(AppInfo::productName));
    setWindowIcon(AppStyle::appIcon());
    // The cards are white whatever the desktop theme: a dark theme's light
    // text would vanish on them, so the window keeps the style's light palette.
    setPalette(style()->standardPalette());
    setupUI();
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

PreferencesWindow::~PreferencesWindow() = default;

QLabel* PreferencesWindow::makeSectionLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setFont(AppStyle::systemFont(12, QFont::DemiBold));
    setTextColour(label, AppStyle::purple());
    return label;
}

void PreferencesWindow::setupUI() {
    Views& v = views_;
    v.background = new GradientView(this);

    v.band = new QWidget(this);
    v.band->setAutoFillBackground(true);
    QPalette bandPalette = v.band->palette();
    bandPalette.setColor(QPalette::Window, AppStyle::purple());
    v.band->setPalette(bandPalette);

    v.versionLabel = new QLabel(QString::fromLatin1(AppInfo::versionTitle), v.band);
    v.versionLabel->setFont(AppStyle::systemFont(18, QFont::Bold));
    setTextColour(v.versionLabel, Qt::white);

    v.subtitleLabel = new QLabel(v.band);
    v.subtitleLabel->setFont(AppStyle::systemFont(11));
    QColor subtitleColour(Qt::white);
    subtitleColour.setAlphaF(0.8f);
    setTextColour(v.subtitleLabel, subtitleColour);

    v.directionCard = new CardView(this);
    v.dirLabel = makeSectionLabel(v.directionCard);
    v.behaviourCard = new CardView(this);
    v.behLabel = makeSectionLabel(v.behaviourCard);
    for (std::size_t row = 0; row < checkboxCount; ++row) {
        auto* box = new QCheckBox(checkboxRows[row].card == Card::direction ? v.directionCard
                                                                            : v.behaviourCard);
        box->setFont(AppStyle::systemFont(13));
        // clicked is emitted for the user's clicks only, never for setChecked.
        connect(box, &QCheckBox::clicked, this, [this, row] { checkboxClicked(row); });
        v.checkboxes.push_back(box);
    }

    v.speedTitle = new QLabel(v.behaviourCard);
    v.speedTitle->setFont(AppStyle::systemFont(13));
    setTextColour(v.speedTitle, AppStyle::textPrimary());

    v.speedSlider = new QSlider(Qt::Horizontal, v.behaviourCard);
    v.speedSlider->setRange(static_cast<int>(minimumSpeed * sliderScale),
                            static_cast<int>(maximumSpeed * sliderScale));
    v.speedSlider->setSingleStep(sliderScale / 10);
    v.speedSlider->setPageStep(sliderScale);
    takeWheelOnlyWhenFocused(v.speedSlider);
    // A drag reports once, when it ends, and each keyboard or wheel step at
    // once: storing and reporting every pixel would flood the disk and the
    // network. During a drag only the read-out follows the handle.
    v.speedSlider->setTracking(false);
    connect(v.speedSlider, &QSlider::valueChanged, this, &PreferencesWindow::speedChanged);
    connect(v.speedSlider, &QSlider::sliderMoved, this, [this](int position) {
        views_.speedLabel->setText(formatSpeed(static_cast<double>(position) / sliderScale));
    });

    v.speedLabel = new QLabel(v.behaviourCard);
    v.speedLabel->setFont(AppStyle::systemFont(13, QFont::Medium));
    setTextColour(v.speedLabel, AppStyle::purple());

    v.languageCard = new CardView(this);
    v.langLabel = makeSectionLabel(v.languageCard);
    v.langPopup = new QComboBox(v.languageCard);
    v.langPopup->setFont(AppStyle::systemFont(13));
    takeWheelOnlyWhenFocused(v.langPopup);
    for (Language language : Languages::allCases())
        v.langPopup->addItem(toQString(Languages::displayName(language)));
    // activated is emitted for the user's choices only, also for the
    // entry that was already selected.
    connect(v.langPopup, &QComboBox::activated, this, &PreferencesWindow::languageChanged);

    v.websiteLink = new LinkButton(this);
    v.websiteLink->setText(QString::fromLatin1(AppInfo::websiteUrl));
    v.websiteLink->setFont(AppStyle::systemFont(11));
    connect(v.websiteLink, &QAbstractButton::clicked, this, &PreferencesWindow::openWebsite);

    v.contactLabel = new QLabel(this);
    v.contactLabel->setFont(AppStyle::systemFont(11));
    setTextColour(v.contactLabel, AppStyle::purpleLight());

    refreshControls();
    updateStrings();
}

void PreferencesWindow::updateStrings() {
    Views& v = views_;
    v.subtitleLabel->setText(L10n::subtitle());
    v.dirLabel->setText(L10n::scrollDirection());
    v.behLabel->setText(L10n::behavior());
    for (std::size_t row = 0; row < checkboxCount; ++row)
        v.checkboxes[row]->setText(asButtonText(checkboxRows[row].text()));
    v.speedTitle->setText(L10n::scrollSpeed());
    v.langLabel->setText(L10n::languageLabel());
    const bool rightToLeft = Languages::isRightToLeft(Languages::current());
    setLayoutDirection(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
    // The label text is all left-to-right characters, so in a mirrored
    // window a right-to-left mark keeps the bar next to the link.
    v.contactLabel->setText(contactText(rightToLeft));
    layoutContents();
}

void PreferencesWindow::layoutContents() {
    Views& v = views_;
    const int contentWidth = width();
    const int cardWidth = contentWidth - 2 * margin;

    place(v.background, 0, 0, contentWidth, height());
    place(v.band, 0, 0, contentWidth, bandHeight);
    // A subtitle in a script with very tall lines lifts the pair just
    // enough to stay inside the band; otherwise the version sits at 36.
    const int headerHeight =
        v.versionLabel->sizeHint().height() + 2 + v.subtitleLabel->sizeHint().height();
    placeAtSizeHint(v.versionLabel, margin, std::min(versionTop, bandHeight - 4 - headerHeight));
    placeAtSizeHint(v.subtitleLabel, margin, v.versionLabel->geometry().bottom() + 1 + 2);

    // A card is sized to its width first so that its children can be
    // mirrored, then to the height its contents need. Rows hang one below
    // the other: the heading, a wider gap, then the rows.
    auto stackRows = [&v](QLabel* heading, Card card) {
        placeAtSizeHint(heading, margin, cardPadding);
        // Each row adds its gap; the first one's is the wider heading gap.
        int y = cardPadding + heading->height() + headingGap - rowGap;
        for (std::size_t row = 0; row < checkboxCount; ++row) {
            if (checkboxRows[row].card != card)
                continue;
            placeCheckbox(v.checkboxes[row], margin, y + rowGap);
            y += rowGap + v.checkboxes[row]->height();
        }
        return y;
    };

    place(v.directionCard, margin, bandHeight + 16, cardWidth, 0);
    int bottom = stackRows(v.dirLabel, Card::direction);
    place(v.directionCard, margin, v.directionCard->y(), cardWidth, bottom + cardPadding);

    place(v.behaviourCard, margin, v.directionCard->geometry().bottom() + 1 + cardGap, cardWidth,
          0);
    bottom = stackRows(v.behLabel, Card::behaviour);
    placeAtSizeHint(v.speedTitle, margin, bottom + 10);
    const QSize sliderHint = v.speedSlider->sizeHint();
    const int sliderX = rightEdge(v.speedTitle) + 8;
    // The read-out is as wide as the widest value it can show, so the row
    // does not shift while the slider moves.
    const int readoutWidth =
        QFontMetrics(v.speedLabel->font()).horizontalAdvance(QStringLiteral("50.0")) + 2;
    // With a long speed caption the slider gives up width rather than push
    // the read-out over the card's edge.
    const int room = cardWidth - cardPadding - readoutWidth - 6 - sliderX;
    const int slider = std::clamp(room, sliderWidth / 2, sliderWidth);
    place(v.speedSlider, sliderX, centredOn(v.speedTitle, sliderHint.height()), slider,
          sliderHint.height());
    const int readoutHeight = v.speedLabel->sizeHint().height();
    place(v.speedLabel, rightEdge(v.speedSlider) + 6, centredOn(v.speedTitle, readoutHeight),
          readoutWidth, readoutHeight);
    place(v.behaviourCard, margin, v.behaviourCard->y(), cardWidth,
          v.speedTitle->geometry().bottom() + 1 + cardPadding);

    place(v.languageCard, margin, v.behaviourCard->geometry().bottom() + 1 + cardGap, cardWidth, 0);
    placeAtSizeHint(v.langLabel, margin, cardPadding);
    const int popupHeight = v.langPopup->sizeHint().height();
    place(v.langPopup, rightEdge(v.langLabel) + 12, centredOn(v.langLabel, popupHeight), popupWidth,
          popupHeight);
    place(v.languageCard, margin, v.languageCard->y(), cardWidth,
          v.langLabel->geometry().bottom() + 1 + cardPadding);

    const QSize linkSize = v.websiteLink->sizeHint();
    place(v.websiteLink, contentWidth / 2 - 50 - linkSize.width() / 2,
          v.languageCard->geometry().bottom() + 1 + linkGap, linkSize.width(), linkSize.height());
    const QSize contactSize = v.contactLabel->sizeHint();
    place(v.contactLabel, rightEdge(v.websiteLink), centredOn(v.websiteLink, contactSize.height()),
          contactSize.width(), contactSize.height());

    // Scripts whose fonts have very tall lines (Burmese, some Indic ones)
    // can need more than the fixed height at these distances; the window
    // then grows just enough rather than cut off the link.
    const int needed =
        std::max(v.websiteLink->geometry().bottom(), v.contactLabel->geometry().bottom()) + 1 +
        linkGap;
    const int newHeight = std::max(windowHeight, needed);
    if (height() != newHeight) {
        setFixedSize(windowWidth, newHeight);
        place(v.background, 0, 0, contentWidth, newHeight);
    }
}

void PreferencesWindow::refreshControls() {
    Views& v = views_;
    for (std::size_t row = 0; row < checkboxCount; ++row) {
        const CheckboxRow& setting = checkboxRows[row];
        // Launch at login shows the registration as it stands, not the store.
        v.checkboxes[row]->setChecked(setting.stored ? setting.stored()
                                                     : actions_.isLaunchAtLoginEnabled &&
                                                           actions_.isLaunchAtLoginEnabled());
    }
    setSpeedControls(ScrollConfig::scrollSpeed());
    selectStoredLanguage();
}

void PreferencesWindow::setSpeedControls(double speed) {
    // The read-out shows the stored value even where the slider cannot go.
    const double clamped = std::clamp(speed, minimumSpeed, maximumSpeed);
    const QSignalBlocker blocker(views_.speedSlider);
    views_.speedSlider->setValue(static_cast<int>(std::lround(clamped * sliderScale)));
    views_.speedLabel->setText(formatSpeed(speed));
}

void PreferencesWindow::selectStoredLanguage() {
    const std::string code = ScrollConfig::defaults().string("language").value_or("en");
    const Language language = Languages::fromRawValue(code).value_or(Language::english);
    const auto& all = Languages::allCases();
    const auto found = std::find(all.begin(), all.end(), language);
    const int index = found == all.end() ? 0 : static_cast<int>(found - all.begin());
    const QSignalBlocker blocker(views_.langPopup);
    views_.langPopup->setCurrentIndex(index);
}

QString PreferencesWindow::contactText(bool rightToLeft) {
    const QString text = QStringLiteral(" | ") + QString::fromLatin1(AppInfo::contactEmail);
    return rightToLeft ? QChar(0x200F) + text : text;
}

QString PreferencesWindow::formatSpeed(double speed) {
    return QString::asprintf("%.1f", speed);
}

void PreferencesWindow::showWindow() {
    refreshControls();
    updateStrings();
    show();
    raise();
    activateWindow();
}

void PreferencesWindow::send(const QString& name, const QJsonObject& params) {
    if (actions_.sendEvent)
        actions_.sendEvent(name, params);
}

QCheckBox* PreferencesWindow::checkbox(std::string_view settingName) const {
    for (std::size_t row = 0; row < checkboxCount; ++row) {
        if (settingName == checkboxRows[row].settingName)
            return views_.checkboxes[row];
    }
    return nullptr;
}

void PreferencesWindow::checkboxClicked(std::size_t row) {
    const CheckboxRow& setting = checkboxRows[row];
    const bool on = views_.checkboxes[row]->isChecked();
    if (setting.key)
        ScrollConfig::defaults().setBool(setting.key, on);
    else if (actions_.setLaunchAtLogin)
        actions_.setLaunchAtLogin(on);
    // Launch at login reports the clicked state whether or not registering
    // worked; the box keeps it until the window is shown again.
    send(
        QStringLiteral("setting_changed"),
        {{QStringLiteral("setting_name"), QString::fromLatin1(setting.settingName)},
         {QStringLiteral("setting_value"),
          views_.checkboxes[row]->isChecked() ? QStringLiteral("true") : QStringLiteral("false")}});
}

void PreferencesWindow::speedChanged() {
    const double speed = static_cast<double>(views_.speedSlider->value()) / sliderScale;
    ScrollConfig::defaults().setObject("scrollSpeed", speed);
    views_.speedLabel->setText(formatSpeed(speed));
    send(QStringLiteral("setting_changed"),
         {{QStringLiteral("setting_name"), QStringLiteral("scroll_speed")},
          {QStringLiteral("setting_value"), formatSpeed(speed)}});
}

void PreferencesWindow::languageChanged() {
    const int index = views_.langPopup->currentIndex();
    const auto& all = Languages::allCases();
    const std::string code =
        index >= 0 && index < static_cast<int>(all.size())
            ? std::string(Languages::rawValue(all[static_cast<std::size_t>(index)]))
            : std::string("en");
    // Stored first: the new texts and every observer read the stored code.
    ScrollConfig::defaults().setObject("language", code);
    updateStrings();
    LanguageNotifier::instance().post();
    send(QStringLiteral("language_changed"),
         {{QStringLiteral("language"), QString::fromStdString(code)}});
}

void PreferencesWindow::openWebsite() {
    const QUrl url(QString::fromLatin1(AppInfo::websiteUrl), QUrl::StrictMode);
    if (url.isValid() && !url.scheme().isEmpty() && actions_.openUrl)
        actions_.openUrl(url);
}

void PreferencesWindow::mousePressEvent(QMouseEvent* event) {
    // A press on the background (the labels and cards pass theirs on) moves
    // the window, as a drag on its title bar would.
    if (event->button() == Qt::LeftButton && windowHandle() && windowHandle()->startSystemMove()) {
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

} // namespace quillmere
