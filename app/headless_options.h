#pragma once

#include "crawl/run_view.h"

#include <QString>
#include <QStringList>

// The program's command line, read before any application object exists:
//   quorvel-scraper [--dir DIR] [--keep-alive] [--verify-peer[=CAFILE]]
//   quorvel-scraper --headless [--city LABEL]... [--all] [--fresh | --resume] [--dir DIR]
//                   [--threads N] [--keep-alive] [--verify-peer[=CAFILE]]
//   quorvel-scraper --help | --version
// Parsing, any thread; it reads only a CA file named, to report one that cannot serve.

// Fetch threads of a headless run: as many as the window uses unless --threads
// asks for more (or fewer), within what a site may reasonably be asked to bear.
constexpr int HeadlessDefaultThreads = DefaultThreadLimit;
constexpr int HeadlessMaxThreads = 16;

// What the headless front end was asked for.
struct THeadlessOptions {
    QStringList Cities; // --city labels, in the order given
    bool All = false;
    bool Fresh = false;  // answers Yes to START's questions
    bool Resume = false; // answers No to START's questions
    bool Help = false;
    bool Version = false;
    QString Dir; // --dir: the directory of the program's files; empty = the default
    int Threads = HeadlessDefaultThreads; // --threads: fetch threads at once
    bool KeepAlive = false;               // --keep-alive: TScraperSettings::KeepAlive
    bool VerifyPeer = false;              // --verify-peer: TScraperSettings::VerifyPeer
    QString CaFile;                       // --verify-peer=CAFILE: TScraperSettings::CaFile
    QString Error;                        // not empty: a usage error, this text says what is wrong
};

// What the window was asked for. Arguments other than these are the toolkit's own
// ("-platform offscreen", "-style fusion") and are left to it.
struct TWindowOptions {
    bool Help = false;
    bool Version = false;
    bool KeepAlive = false; // --keep-alive: TScraperSettings::KeepAlive
    bool VerifyPeer = false;
    QString CaFile;
    QString Dir;
    QString Error;
};

// The arguments after the program name, decoded as the system's 8-bit text.
QStringList ProgramArguments(int argc, char** argv);

// True when the arguments (argv[1] on) ask for the headless front end.
bool WantsHeadless(const QStringList& arguments);

// Parses the arguments after the program name; "--headless" itself is accepted
// anywhere. "--city=LABEL" is the same as "--city LABEL", "--dir=DIR" as "--dir DIR".
THeadlessOptions ParseHeadlessArgs(const QStringList& arguments);

TWindowOptions ParseWindowArgs(const QStringList& arguments);

// The usage text of both forms, one option per line.
QString ProgramUsage();

// One line, with its line end, telling how a headless run names its cities.
QString HeadlessUsageLine();

// "quorvel-scraper " and the version number, with a line end.
QString ProgramVersion();
