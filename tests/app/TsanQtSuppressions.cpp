// Thread-checker suppressions for the window's tests. Qt is not built with
// the checker: the memory operations inside Qt's own thread pool (parallel
// image work of the raster painter) synchronise through code the checker
// cannot see and show up as false races. Only calls made directly from the
// Qt libraries are ignored; races in this project's code still report.

extern "C" const char* __tsan_default_suppressions();

extern "C" const char* __tsan_default_suppressions()
{
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Widgets.so.6\n";
}
