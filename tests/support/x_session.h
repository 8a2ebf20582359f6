#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>

// A desktop as a user has one: a real X server (Xvfb, on a display number it picks
// itself) with a real window manager (openbox) on it, and the user's hands on it
// through xdotool and wmctrl. Each tool run is bounded in time.
//
// The constructor starts both and returns once the window manager manages the
// screen; what could not start is in Failure(), so a test fails with the reason
// (a missing package names scripts/setup). The destructor stops openbox and Xvfb
// and waits for them; both also end with the thread that started them, so neither
// outlives a test that was killed. Belongs to the thread that made it.
class TXSession {
public:
    TXSession();
    ~TXSession();
    TXSession(const TXSession&) = delete;
    TXSession& operator=(const TXSession&) = delete;

    // Empty once the server and the window manager run.
    QString Failure() const { return FFailure; }
    // ":N".
    QString Display() const { return FDisplay; }
    // The test's environment for a program of this desktop: DISPLAY set, the
    // toolkit on X (QT_QPA_PLATFORM=xcb, whatever the suite set), no Wayland.
    QProcessEnvironment Environment() const;

    struct TToolRun {
        int ExitCode = -1; // -1: did not start, crashed or ran out of time
        QString Output;
        QString Error;
        bool Ok() const { return ExitCode == 0; }
    };
    // Runs `program` (xdotool, wmctrl, ...) on this display and waits at most `limitMs`.
    TToolRun Tool(const QString& program, const QStringList& arguments, int limitMs = 10000) const;

    // A window of process `pid` whose title matches `titlePattern` (a regular
    // expression), visible and managed by the window manager (in wmctrl -l); 0 when
    // there is none yet.
    unsigned long FindWindow(qint64 pid, const QString& titlePattern) const;
    // The window's size, as the window manager made it; empty when unknown.
    QSize WindowSize(unsigned long window) const;
    // Moves the pointer to (x, y) of the window's client area and clicks the left button,
    // through the X server's test extension, as a mouse does.
    bool Click(unsigned long window, int x, int y) const;
    // Asks the window manager to close the window (_NET_CLOSE_WINDOW, wmctrl -c): it
    // then sends the window WM_DELETE_WINDOW, as its close button does.
    bool Close(unsigned long window) const;
    // The client windows the window manager manages (wmctrl -l).
    QList<unsigned long> ManagedWindows() const;

private:
    bool StartServer();
    bool StartWindowManager();
    void Stop(std::unique_ptr<QProcess>& process);

    QString FFailure;
    QString FDisplay;
    std::unique_ptr<QProcess> FServer;
    std::unique_ptr<QProcess> FWindowManager;
};
