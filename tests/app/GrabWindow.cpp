// grab-window WINDOW OUT.png: saves what an X window shows, as the X server
// has it, for the README's pictures of real runs. WINDOW is the decimal or
// 0x-hexadecimal id that xdotool or xwininfo print.

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: grab-window WINDOW OUT.png\n");
        return 2;
    }
    QGuiApplication application(argc, argv);
    char* end = nullptr;
    const unsigned long window = std::strtoul(argv[1], &end, 0);
    if (end == argv[1] || *end != '\0' || window == 0) {
        std::fprintf(stderr, "grab-window: not a window id: %s\n", argv[1]);
        return 2;
    }
    const QPixmap shot = application.primaryScreen()->grabWindow(static_cast<WId>(window));
    if (shot.isNull()) {
        std::fprintf(stderr, "grab-window: window %s could not be read\n", argv[1]);
        return 1;
    }
    if (!shot.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "grab-window: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
