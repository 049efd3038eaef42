// Saves what an X display shows, cut to the area that differs from the
// background, as a PNG: the documentation's pictures of the real program.
//   DISPLAY=:99 wakora-screen-grab [--whole] OUT.png
// With --whole it saves the whole screen, as tests measure it.

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTextStream>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    const bool whole = argc == 3 && qstrcmp(argv[1], "--whole") == 0;
    if (argc != 2 && !whole) {
        QTextStream(stderr) << "usage: wakora-screen-grab [--whole] OUT.png\n";
        return 64;
    }
    const QString out = QString::fromLocal8Bit(argv[argc - 1]);
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    if (whole)
        return screen.save(out) ? 0 : 1;
    const QRgb background = screen.pixel(0, 0);
    QRect content;
    for (int y = 0; y < screen.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(screen.constScanLine(y));
        for (int x = 0; x < screen.width(); ++x) {
            if (line[x] != background)
                content |= QRect(x, y, 1, 1);
        }
    }
    if (content.isEmpty()) {
        QTextStream(stderr) << "nothing on the screen\n";
        return 1;
    }
    const bool saved = screen.copy(content).save(out);
    QTextStream(stderr) << (saved ? "wrote " : "could not write ") << out << '\n';
    return saved ? 0 : 1;
}
