#pragma once

#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>

// A private X display (Xvfb) and the operator's tools on it: xdotool to click
// and type, xclip to read what a text box copies, import for pictures.
class XSession {
public:
    XSession();
    ~XSession();

    bool isRunning() const { return m_xvfb.state() == QProcess::Running; }
    QString display() const { return m_display; }

    // Runs an X tool on this display; returns its standard output.
    QString tool(const QString &program, const QStringList &arguments, int timeoutMs = 10000) const;

    // The window with this exact title that belongs to `pid`, once it is visible; 0 if none comes.
    qulonglong waitForWindow(qint64 pid, const QString &title, int timeoutMs = 10000) const;

    void click(qulonglong window, QPoint at) const;
    // Keys go to the window that has the focus, as typed keys do.
    void key(const QString &keys) const;
    void keyTo(qulonglong window, const QString &keys) const;
    // Replaces the text of the box under `at` by typing, as an operator does.
    void typeInto(qulonglong window, QPoint at, const QString &text) const;
    // Selects the whole text of the box under `at`, copies it and reads the clipboard.
    QString copyFrom(qulonglong window, QPoint at) const;

    // What the window shows.
    QImage grab(qulonglong window) const;

    // Asks the window to close, as the close button of a window frame does.
    void close(qulonglong window) const;

private:
    QProcess m_xvfb;
    QString m_display;
};
