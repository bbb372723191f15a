// A Qt 6 client for the desktop tests: a long document in a QTextEdit, as
// any Qt application shows one, that reports on standard output what reaches
// it, each line with its CLOCK_MONOTONIC arrival time in microseconds:
//   wheel T ANGLE_X ANGLE_Y
//   menu T               a context menu was shown (it is closed again soon)
//   move T X Y | press T BUTTON X Y
//   scroll T H V         the scroll bars' values (pixels)
//   select T N           the length of the selected text
// Standard input takes "reset": scroll to the middle, clear the selection.
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
#include <functional>
#include <initializer_list>
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

class Reporter : public QObject {
public:
    explicit Reporter(QTextEdit& edit) : edit_(edit) {}
    std::function<void()> onFirstPaint; // the window is mapped and has its size

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (auto* menu = qobject_cast<QMenu*>(watched); menu && event->type() == QEvent::Show) {
            say("menu");
            QTimer::singleShot(300, menu, &QMenu::close);
        }
        if (watched != edit_.viewport())
            return false;
        const auto* mouse = dynamic_cast<QMouseEvent*>(event);
        const QPoint p = mouse ? mouse->position().toPoint() : QPoint();
        if (event->type() == QEvent::Paint && onFirstPaint)
            QTimer::singleShot(0, this, std::exchange(onFirstPaint, nullptr));
        else if (const auto* wheel = dynamic_cast<QWheelEvent*>(event))
            say("wheel", {wheel->angleDelta().x(), wheel->angleDelta().y()});
        else if (event->type() == QEvent::MouseMove)
            say("move", {p.x(), p.y()});
        else if (event->type() == QEvent::MouseButtonPress)
            say("press", {mouse->button(), p.x(), p.y()});
        return false;
    }

private:
    QTextEdit& edit_;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTextEdit edit;
    edit.setWindowTitle(QStringLiteral("Quillmere Qt probe"));
    edit.setLineWrapMode(QTextEdit::NoWrap);
    edit.setReadOnly(true);
    edit.setTextInteractionFlags(Qt::TextSelectableByMouse);
    QStringList lines;
    for (int i = 1; i <= 600; ++i)
        lines << QStringLiteral("%1 The quick brown fox jumps over the lazy dog. ")
                     .arg(i, 4)
                     .repeated(5);
    edit.setPlainText(lines.join(QLatin1Char('\n')));
    edit.viewport()->setMouseTracking(true);

    auto reportScroll = [&edit] {
        say("scroll", {edit.horizontalScrollBar()->value(), edit.verticalScrollBar()->value()});
    };
    QObject::connect(edit.verticalScrollBar(), &QScrollBar::valueChanged, reportScroll);
    QObject::connect(edit.horizontalScrollBar(), &QScrollBar::valueChanged, reportScroll);
    QObject::connect(&edit, &QTextEdit::selectionChanged,
                     [&edit] { say("select", {edit.textCursor().selectedText().size()}); });
    auto reset = [&edit, reportScroll] {
        QTextCursor cursor = edit.textCursor();
        cursor.clearSelection();
        edit.setTextCursor(cursor);
        edit.verticalScrollBar()->setValue(edit.verticalScrollBar()->maximum() / 2);
        edit.horizontalScrollBar()->setValue(edit.horizontalScrollBar()->maximum() / 4);
        reportScroll();
    };
    Reporter reporter(edit);
    reporter.onFirstPaint = [&edit, reset] {
        reset();
        say("ready", {edit.viewport()->width(), edit.viewport()->height()});
    };
    app.installEventFilter(&reporter);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0)
            QCoreApplication::quit();
        else if (QByteArray(buffer, int(got)).contains("reset"))
            reset();
    });

    if (args.size() >= 5)
        edit.setGeometry(args[1].toInt(), args[2].toInt(), args[3].toInt(), args[4].toInt());
    edit.show();
    return app.exec();
}
