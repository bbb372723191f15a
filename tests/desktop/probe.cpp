// A Qt 6 client for the desktop tests: a long document in a QTextEdit, as
// any Qt application shows one, that reports on standard output what reaches
// it, each line with its CLOCK_MONOTONIC arrival time in microseconds:
//   wheel T ANGLE_X ANGLE_Y
//   menu T               the context menu was opened (it is closed again soon)
//   move T X Y | press T BUTTON X Y
//   scroll T H V         the scroll bars' values (pixels)
//   select T N           the length of the selected text
// A line on standard input ("reset") scrolls to the middle and clears the
// selection.
//   desktop_probe X Y WIDTH HEIGHT
#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QTextEdit>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {

// One report: its kind, the time in microseconds and the numbers.
void say(const char* kind, std::initializer_list<long long> values = {}) {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    std::printf("%s %lld", kind, ts.tv_sec * 1000000LL + ts.tv_nsec / 1000);
    for (long long value : values)
        std::printf(" %lld", value);
    std::printf("\n");
    std::fflush(stdout);
}

class Probe : public QTextEdit {
public:
    Probe() {
        setWindowTitle(QStringLiteral("Quillmere Qt probe"));
        setLineWrapMode(NoWrap);
        setReadOnly(true); // the text can still be selected with the mouse
        const QString line = QStringLiteral("The quick brown fox jumps over the lazy dog. ");
        setPlainText((line.repeated(5) + QLatin1Char('\n')).repeated(600));
        viewport()->setMouseTracking(true);
        for (QScrollBar* bar : {horizontalScrollBar(), verticalScrollBar()})
            connect(bar, &QScrollBar::valueChanged, this, &Probe::reportScroll);
        connect(this, &QTextEdit::selectionChanged, this,
                [this] { say("select", {textCursor().selectedText().size()}); });
    }

    void reset() {
        QTextCursor cursor = textCursor();
        cursor.clearSelection();
        setTextCursor(cursor);
        verticalScrollBar()->setValue(verticalScrollBar()->maximum() / 2);
        horizontalScrollBar()->setValue(horizontalScrollBar()->maximum() / 4);
        reportScroll();
    }

protected:
    bool viewportEvent(QEvent* event) override {
        const auto* mouse = dynamic_cast<QMouseEvent*>(event);
        const QPoint p = mouse ? mouse->position().toPoint() : QPoint();
        if (event->type() == QEvent::Paint && !painted_) {
            // The first frame: the window is mapped and has its size.
            painted_ = true;
            QTimer::singleShot(0, this, [this] {
                reset();
                say("ready");
            });
        } else if (const auto* wheel = dynamic_cast<QWheelEvent*>(event)) {
            say("wheel", {wheel->angleDelta().x(), wheel->angleDelta().y()});
        } else if (event->type() == QEvent::MouseMove) {
            say("move", {p.x(), p.y()});
        } else if (event->type() == QEvent::MouseButtonPress) {
            say("press", {mouse->button(), p.x(), p.y()});
        }
        return QTextEdit::viewportEvent(event);
    }

    // As QTextEdit's own, with the menu closed again soon.
    void contextMenuEvent(QContextMenuEvent* event) override {
        QMenu* menu = createStandardContextMenu(event->pos());
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(event->globalPos());
        say("menu");
        QTimer::singleShot(300, menu, &QMenu::close);
    }

private:
    void reportScroll() {
        say("scroll", {horizontalScrollBar()->value(), verticalScrollBar()->value()});
    }
    bool painted_ = false;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Probe probe;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) > 0)
            probe.reset();
        else
            QCoreApplication::quit();
    });
    if (const QStringList a = app.arguments(); a.size() >= 5)
        probe.setGeometry(a[1].toInt(), a[2].toInt(), a[3].toInt(), a[4].toInt());
    probe.show();
    return app.exec();
}
