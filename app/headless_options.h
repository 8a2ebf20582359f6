#pragma once

#include <QString>
#include <QStringList>

// The command line of the headless front end:
//   quorvel-scraper --headless [--city LABEL]... [--all] [--fresh | --resume]
// Pure parsing, any thread.
struct THeadlessOptions {
    QStringList Cities; // --city labels, in the order given
    bool All = false;
    bool Fresh = false;  // answers Yes to START's questions
    bool Resume = false; // answers No to START's questions
    bool Help = false;
    QString Error; // not empty: a usage error, this text says what is wrong
};

// True when the arguments (argv[1] on) ask for the headless front end.
bool WantsHeadless(const QStringList& arguments);

// Parses the arguments after the program name; "--headless" itself is accepted
// anywhere. "--city=LABEL" is the same as "--city LABEL".
THeadlessOptions ParseHeadlessArgs(const QStringList& arguments);

// The usage text, one option per line.
QString HeadlessUsage();
