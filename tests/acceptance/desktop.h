#pragma once

#include "xdisplay.h"
#include <QDir>
#include <QImage>
#include <QPoint>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

// A private X display on which the built programs run in real windows, driven as
// an operator drives them (xdotool, xclip, ImageMagick's import). The display
// keeps every window's state as a window manager does, which Wine waits
// for. Given a Windows release (the five .exe with their DLLs, or the folder
// holding its zip and installer), the same programs run as .exe under Wine, in a
// prefix of their own, with the shim that lets Qt's serial port receive on a
// pseudo-terminal preloaded.
class Desktop {
public:
    Desktop(const QString &windowsRelease, const QString &winePtyShim);
    ~Desktop();

    bool wine() const { return !m_release.isEmpty(); }
    QString release() const { return m_release; }
    QString drive() const { return m_prefix.filePath(u"drive_c"_s); }
    // Where the programs are taken from: BIN_DIR's folders, or the unzipped release.
    void usePrograms(const QDir &folder) { m_programs = folder; }

    // COM1 and COM2 are links the programs open, re-pointed at a device (or
    // nowhere, for a missing port) at any time: Wine and the Linux programs open
    // the link anew at every opening.
    QString port(int com) const { return m_ports.filePath(u"com%1"_s.arg(com)); }
    void connect(int com, const QString &device);
    // Starts a program on the ports as they are connected now.
    void start(const QString &name);
    QProcess &program() { return m_program; }
    // Seconds of processor time the program has taken so far.
    double processorSeconds() const;

    // The program's shown window with this title, or 0.
    qulonglong window(const QString &title) const;
    // Makes that window the one the next clicks go to.
    void use(qulonglong window) { m_window = window; }
    // Clicks at a point of the window; runs the xdotool command `then` after.
    QByteArray click(QPoint at, const QString &then = {}) const;
    // Clicks at each point in turn, `gapMs` apart.
    void clickInTurn(const QList<QPoint> &points, int gapMs) const;
    // A control's text, through the clipboard as an operator copies it.
    QByteArray copy(QPoint at) const;
    // Types a text into the box at `at`, pasted when long or not ASCII, as an input method does.
    void type(QPoint at, const QString &text) const;
    QImage grab() const;
    // What the close button of a window frame sends.
    void close() const { m_display.close(m_window); }

    static QByteArray run(const QString &command);

private:
    XDisplay m_display;
    QString m_release;
    QString m_shim;
    QTemporaryDir m_prefix; // Wine's
    QTemporaryDir m_linuxPorts;
    QDir m_ports;
    QDir m_programs;
    QProcess m_program;
    qulonglong m_window = 0;
};
