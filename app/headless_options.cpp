#include "app/headless_options.h"

namespace {

const QString HeadlessFlag = QStringLiteral("--headless");
const QString CityFlag = QStringLiteral("--city");

// Handles one argument at `i` (advancing past a value it takes); false on an error.
bool TakeArgument(const QStringList& arguments, qsizetype& i, THeadlessOptions& options) {
    const QString& argument = arguments[i];
    if (argument == HeadlessFlag)
        return true;
    if (argument == QStringLiteral("--all"))
        return options.All = true;
    if (argument == QStringLiteral("--fresh"))
        return options.Fresh = true;
    if (argument == QStringLiteral("--resume"))
        return options.Resume = true;
    if (argument == QStringLiteral("--help") || argument == QStringLiteral("-h"))
        return options.Help = true;
    if (argument.startsWith(CityFlag + QLatin1Char('='))) {
        options.Cities.append(argument.mid(CityFlag.size() + 1));
        return true;
    }
    if (argument == CityFlag) {
        if (i + 1 >= arguments.size()) {
            options.Error = QStringLiteral("--city needs a label");
            return false;
        }
        options.Cities.append(arguments[++i]);
        return true;
    }
    options.Error = QStringLiteral("unknown argument: ") + argument;
    return false;
}

} // namespace

bool WantsHeadless(const QStringList& arguments) {
    return arguments.contains(HeadlessFlag);
}

THeadlessOptions ParseHeadlessArgs(const QStringList& arguments) {
    THeadlessOptions options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (!TakeArgument(arguments, i, options))
            return options;
    }
    if (options.Fresh && options.Resume)
        options.Error = QStringLiteral("--fresh and --resume exclude each other");
    else if (options.All && !options.Cities.isEmpty())
        options.Error = QStringLiteral("--all and --city exclude each other");
    return options;
}

QString HeadlessUsage() {
    return QStringLiteral(
        "Usage: quorvel-scraper --headless [--city LABEL]... [--all] [--fresh | --resume]\n"
        "Runs one crawl without a window, with the files beside the executable.\n"
        "  --city LABEL  crawl every city of cities.txt labelled LABEL (letter case\n"
        "                ignored); may be repeated\n"
        "  --all         crawl every city of cities.txt\n"
        "                (neither: the cities saved in selection.txt)\n"
        "  --fresh       discard the work lists left by an earlier run\n"
        "  --resume      keep them and resume that run\n"
        "                (neither: ask on the terminal; without one, exit with 2)\n"
        "  --help        show this text\n"
        "Log lines go to standard output. Ctrl+C stops the run and saves its lists;\n"
        "a second Ctrl+C ends the program at once.\n"
        "Exit status: 0 run ended or stopped, 1 run failed, 2 usage error.\n"
        "QUORVEL_BASE_URL replaces https://quorvel.ru before city paths.\n");
}
