#include "app/headless_options.h"

#include "fetch/ssl_context_build.h"

#include <optional>

namespace {

const QString HeadlessFlag = QStringLiteral("--headless");
const QString CityFlag = QStringLiteral("--city");
const QString DirFlag = QStringLiteral("--dir");
const QString ThreadsFlag = QStringLiteral("--threads");
const QString VerifyPeerFlag = QStringLiteral("--verify-peer");

// The value of an option that takes one ("--city LABEL" or "--city=LABEL") when the
// argument at `i` is that option, advancing past a separate value. `error` is set
// when the value is missing.
std::optional<QString> TakeValue(const QStringList& arguments, qsizetype& i, const QString& flag,
                                 QString& error) {
    const QString& argument = arguments[i];
    if (argument.startsWith(flag + QLatin1Char('=')))
        return argument.mid(flag.size() + 1);
    if (argument != flag)
        return std::nullopt;
    if (i + 1 >= arguments.size()) {
        error = flag + QStringLiteral(" needs a value");
        return QString();
    }
    return arguments[++i];
}

// "--dir DIR" at `i`; an empty DIR is an error rather than a silent default, as a
// script's unset variable would give.
bool TakeDir(const QStringList& arguments, qsizetype& i, QString& dir, QString& error) {
    const auto value = TakeValue(arguments, i, DirFlag, error);
    if (!value)
        return false;
    if (error.isEmpty() && value->isEmpty())
        error = QStringLiteral("--dir needs a directory");
    dir = *value;
    return true;
}

// "--threads N" at `i`: a whole number from 1 to HeadlessMaxThreads.
bool TakeThreads(const QStringList& arguments, qsizetype& i, int& threads, QString& error) {
    const auto value = TakeValue(arguments, i, ThreadsFlag, error);
    if (!value)
        return false;
    bool number = false;
    const int parsed = value->toInt(&number);
    if (error.isEmpty() && (!number || parsed < 1 || parsed > HeadlessMaxThreads))
        error = QStringLiteral("--threads needs a number from 1 to %1").arg(HeadlessMaxThreads);
    threads = parsed;
    return true;
}

// "--verify-peer" or "--verify-peer=CAFILE". The CA file is tried at once, so that a
// mistyped name stops the start instead of failing every page of the run.
template <typename TOptions> void TakeVerifyPeer(const QString& argument, TOptions& options) {
    options.VerifyPeer = true;
    if (argument == VerifyPeerFlag)
        return;
    options.CaFile = argument.mid(VerifyPeerFlag.size() + 1);
    const QString problem =
        options.CaFile.isEmpty() ? QStringLiteral("no file named") : CaFileProblem(options.CaFile);
    if (!problem.isEmpty())
        options.Error = QStringLiteral("--verify-peer: cannot read CA certificates from \"%1\": %2")
                            .arg(options.CaFile, problem);
}

// --help, -h, --version, --keep-alive and --verify-peer, shared by both forms; false
// when the argument is none of them.
template <typename TOptions> bool TakeCommonFlag(const QString& argument, TOptions& options) {
    if (argument == QStringLiteral("--help") || argument == QStringLiteral("-h"))
        return options.Help = true;
    if (argument == QStringLiteral("--version"))
        return options.Version = true;
    if (argument == QStringLiteral("--keep-alive"))
        return options.KeepAlive = true;
    if (argument != VerifyPeerFlag && !argument.startsWith(VerifyPeerFlag + QLatin1Char('=')))
        return false;
    TakeVerifyPeer(argument, options);
    return true;
}

// Handles one argument at `i` (advancing past a value it takes); false on an error.
bool TakeArgument(const QStringList& arguments, qsizetype& i, THeadlessOptions& options) {
    const QString& argument = arguments[i];
    if (argument == HeadlessFlag || TakeCommonFlag(argument, options))
        return options.Error.isEmpty();
    if (argument == QStringLiteral("--all"))
        return options.All = true;
    if (argument == QStringLiteral("--fresh"))
        return options.Fresh = true;
    if (argument == QStringLiteral("--resume"))
        return options.Resume = true;
    if (const auto label = TakeValue(arguments, i, CityFlag, options.Error)) {
        options.Cities.append(*label);
        return options.Error.isEmpty();
    }
    if (TakeDir(arguments, i, options.Dir, options.Error))
        return options.Error.isEmpty();
    if (TakeThreads(arguments, i, options.Threads, options.Error))
        return options.Error.isEmpty();
    options.Error = QStringLiteral("unknown argument: ") + argument;
    return false;
}

} // namespace

QStringList ProgramArguments(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

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

TWindowOptions ParseWindowArgs(const QStringList& arguments) {
    TWindowOptions options;
    for (qsizetype i = 0; i < arguments.size() && options.Error.isEmpty(); ++i) {
        if (!TakeCommonFlag(arguments[i], options))
            TakeDir(arguments, i, options.Dir, options.Error);
    }
    return options;
}

QString ProgramUsage() {
    return QStringLiteral(
               "Usage: quorvel-scraper [--dir DIR] [--keep-alive] [--verify-peer[=CAFILE]]\n"
               "       quorvel-scraper --headless [--city LABEL]... [--all] [--fresh | --resume]\n"
               "                       [--dir DIR] [--threads N] [--keep-alive]\n"
               "                       [--verify-peer[=CAFILE]]\n"
               "Collects the organisations of the Quorvel directory into data<N>.csv. Without\n"
               "--headless it opens the window; with it, it runs one crawl on the terminal.\n"
               "  --dir DIR     keep the program's files (cities.txt, selection.txt, the work\n"
               "                lists, data and log files) in DIR, created when missing;\n"
               "                default: beside the executable when that directory is\n"
               "                writable, else $XDG_DATA_HOME/quorvel-scraper\n"
               "                (~/.local/share/quorvel-scraper)\n"
               "  --keep-alive  keep connections open across pages: requests go out as\n"
               "                HTTP/1.1 and a connection the server keeps open serves the next\n"
               "                pages to that site; idle ones are closed after 30 s and at the\n"
               "                run's end. Worth it for a distant site. Without it: one\n"
               "                HTTP/1.0 connection per page\n"
               "  --verify-peer[=CAFILE]\n"
               "                check the site's certificate: it must chain to the system's\n"
               "                trusted authorities (with CAFILE: to the PEM certificates in\n"
               "                CAFILE alone) and name the host; a page whose check fails is\n"
               "                not read. Without it certificates are not checked\n"
               "  --help        show this text\n"
               "  --version     show the version\n"
               "Headless:\n"
               "  --city LABEL  crawl every city of cities.txt labelled LABEL (letter case\n"
               "                ignored); may be repeated\n"
               "  --all         crawl every city of cities.txt\n"
               "                (neither: the cities saved in selection.txt; with no city\n"
               "                to start from, only --resume of an earlier run starts)\n"
               "  --fresh       discard the work lists left by an earlier run\n"
               "  --resume      keep them and resume that run\n"
               "                (neither: ask on the terminal; without one, exit with 2)\n"
               "  --threads N   fetch up to N pages at once, 1 to %1 (default %2, as the window\n"
               "                does); more threads load the site harder: raise it only as far\n"
               "                as the site's owner would find fair, e.g. for a distant site\n"
               "Log lines go to standard output, a summary to standard error at the end.\n"
               "Ctrl+C stops the run and saves its lists; a second Ctrl+C ends the program.\n"
               "Exit status: 0 run ended or stopped, 1 run failed, 2 usage error (nothing to\n"
               "crawl among them) or no display.\n"
               "The client certificate 01cert.pem and its key 01key.pem are read from the\n"
               "current directory. QUORVEL_BASE_URL replaces https://quorvel.ru before city\n"
               "paths.\n")
        .arg(HeadlessMaxThreads)
        .arg(HeadlessDefaultThreads);
}

QString HeadlessUsageLine() {
    return QStringLiteral("Usage: quorvel-scraper --headless {--city LABEL... | --all} "
                          "[--fresh | --resume] [--dir DIR] [--threads N]\n");
}

QString ProgramVersion() {
    return QStringLiteral("quorvel-scraper " QUORVEL_VERSION "\n");
}
