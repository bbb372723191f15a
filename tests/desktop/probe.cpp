// A Qt 6 client for the desktop tests: a long document in a QTextEdit, as
// any Qt application shows one, that reports on standard output what reaches
// it, each line with its CLOCK_MONOTONIC arrival time in microseconds:
//   wheel T ANGLE_X ANGLE_Y PIXEL_X PIXEL_Y PHASE
//   context T X Y        a QContextMenuEvent (widget position)
//   menu T               a context menu was shown (it is closed again soon)
//   move T X Y BUTTONS | press T BUTTON X Y | release T BUTTON X Y
//   scroll T H V         the scroll bars' values (pixels)
//   select N             the length of the selected text
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
#include <unistd.h>

namespace {

long long now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}

void say(const QString& line) {
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

class Reporter : public QObject {
public:
    explicit Reporter(QTextEdit& edit, std::function<void()> onReady)
        : edit_(edit), onReady(std::move(onReady)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QString t = QString::number(now());
        if (auto* menu = qobject_cast<QMenu*>(watched); menu && event->type() == QEvent::Show) {
            say(QStringLiteral("menu %1").arg(t));
            QTimer::singleShot(300, menu, &QMenu::close);
        }
        if (watched != edit_.viewport())
            return false;
        switch (event->type()) {
        case QEvent::Paint:
            if (!ready_) {
                // The first frame: the window is mapped and has its size.
                ready_ = true;
                QTimer::singleShot(0, this, onReady);
            }
            break;
        case QEvent::Wheel: {
            const auto* wheel = static_cast<QWheelEvent*>(event);
            say(QStringLiteral("wheel %1 %2 %3 %4 %5 %6")
                    .arg(t)
                    .arg(wheel->angleDelta().x())
                    .arg(wheel->angleDelta().y())
                    .arg(wheel->pixelDelta().x())
                    .arg(wheel->pixelDelta().y())
                    .arg(int(wheel->phase())));
            break;
        }
        case QEvent::ContextMenu: {
            const auto* menu = static_cast<QContextMenuEvent*>(event);
            say(QStringLiteral("context %1 %2 %3")
                    .arg(t)
                    .arg(menu->pos().x())
                    .arg(menu->pos().y()));
            break;
        }
        case QEvent::MouseMove:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const QPoint p = mouse->position().toPoint();
            if (event->type() == QEvent::MouseMove)
                say(QStringLiteral("move %1 %2 %3 %4")
                        .arg(t)
                        .arg(p.x())
                        .arg(p.y())
                        .arg(int(mouse->buttons())));
            else
                say(QStringLiteral("%1 %2 %3 %4 %5")
                        .arg(event->type() == QEvent::MouseButtonPress ? "press" : "release", t)
                        .arg(int(mouse->button()))
                        .arg(p.x())
                        .arg(p.y()));
            break;
        }
        default:
            break;
        }
        return false;
    }

private:
    QTextEdit& edit_;
    std::function<void()> onReady;
    bool ready_ = false;
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
        say(QStringLiteral("scroll %1 %2 %3")
                .arg(now())
                .arg(edit.horizontalScrollBar()->value())
                .arg(edit.verticalScrollBar()->value()));
    };
    QObject::connect(edit.verticalScrollBar(), &QScrollBar::valueChanged, reportScroll);
    QObject::connect(edit.horizontalScrollBar(), &QScrollBar::valueChanged, reportScroll);
    QObject::connect(&edit, &QTextEdit::selectionChanged, [&edit] {
        say(QStringLiteral("select %1").arg(edit.textCursor().selectedText().size()));
    });
    auto reset = [&edit, reportScroll] {
        QTextCursor cursor = edit.textCursor();
        cursor.clearSelection();
        edit.setTextCursor(cursor);
        edit.verticalScrollBar()->setValue(edit.verticalScrollBar()->maximum() / 2);
        edit.horizontalScrollBar()->setValue(edit.horizontalScrollBar()->maximum() / 4);
        reportScroll();
    };
    Reporter reporter(edit, [&edit, reset] {
        reset();
        say(QStringLiteral("ready %1 %2")
                .arg(edit.viewport()->width())
                .arg(edit.viewport()->height()));
    });
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
