// Saves what an X display shows, cut to the area that differs from the
// background, as a PNG: the documentation's pictures of the real program.
//   DISPLAY=:99 wakora-screen-grab OUT.png

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTextStream>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: wakora-screen-grab OUT.png\n";
        return 64;
    }
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
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
    const bool saved = screen.copy(content).save(QString::fromLocal8Bit(argv[1]));
    QTextStream(stderr) << (saved ? "wrote " : "could not write ") << argv[1] << '\n';
    return saved ? 0 : 1;
}
