#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

// Answers every modal message box with OK as soon as it comes up, and keeps
// what each one said as "title|text".
class ModalBoxes : public QObject {
    Q_OBJECT

public:
    ModalBoxes();

    QStringList seen;
    // Texts only, for comparing against a list of messages.
    QStringList texts() const;

private:
    void answer();

    QTimer m_poll;
};
