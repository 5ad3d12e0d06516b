#include "modalboxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

ModalBoxes::ModalBoxes()
{
    m_poll.setInterval(5);
    connect(&m_poll, &QTimer::timeout, this, &ModalBoxes::answer);
    m_poll.start();
}

QStringList ModalBoxes::texts() const
{
    QStringList out;
    for (const QString &entry : seen)
        out << entry.section(u'|', 1);
    return out;
}

void ModalBoxes::answer()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    const QString icon =
        box->icon() == QMessageBox::Warning ? QString() : QStringLiteral("[not a warning]");
    seen << box->windowTitle() + icon + u'|' + box->text();
    if (QAbstractButton *ok = box->button(QMessageBox::Ok))
        ok->click();
    else
        box->reject();
}
