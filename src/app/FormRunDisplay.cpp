#include "app/FormRunDisplay.h"

#include "app/form/MainWindowForm.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>

void FormRunDisplay::showHelp(const QString &text)
{
    form->testmsg->setPlainText(text);
}

void FormRunDisplay::showStatus(const QString &text)
{
    form->Status->setText(text);
}

void FormRunDisplay::showProgress(const QString &text, int percent)
{
    form->testtime->setText(text);
    form->testprogress->setValue(percent);
}

void FormRunDisplay::endRun()
{
    emit form->autotest->clicked(false);
}
