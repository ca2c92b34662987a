// update-station: the production station as a window,
//   update-station [--port P]... [--count N] [--log FILE] [--start] [FILE]

#include "ProgramStart.h"
#include "StationOptions.h"
#include "StationWindow.h"
#include "WidgetMap.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

using namespace devupdate::link;
using namespace devupdate::update;
using namespace devupdate::station;

int main(int argc, char* argv[])
{
    (void)PrepareProgramStart();
    NameProgramFromExecutable();
    SStationOptions options;
    // --help, --version and usage errors need no display.
    if (const int status = ParseStationOptions(argc, argv, options); status >= 0)
        return status;
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    CStationWindow window(options);
    window.resize(1280, 800);
    window.show();
    StartWidgetMap(&window);
    if (options.start) {
        QTimer::singleShot(0, &window, [&window] {
            std::string problem;
            if (!window.StartStation(problem)) {
                std::fprintf(stderr, "update-station: %s\n", problem.c_str());
                QApplication::exit(2);
            }
        });
    }
    return application.exec();
}
