#include "app/headless_front_end.h"
#include "app/headless_options.h"
#include "app/window_start.h"
#include "fetch/zlib_coding.h"

// The command line is read before any application object exists, so that --help,
// --version and a start without a display need no display.
int main(int argc, char** argv) {
    RegisterZlibContentCoding();
    const QStringList arguments = ProgramArguments(argc, argv);
    if (WantsHeadless(arguments))
        return RunHeadless(argc, argv, ParseHeadlessArgs(arguments));
    return RunWindow(argc, argv, ParseWindowArgs(arguments));
}
