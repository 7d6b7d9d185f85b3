#pragma once

class QObject;
class QThread;
struct MainWindowForm;

// The tests offered in the window's test list, by list index.
bool isKnownTest(int index);
// Creates the test object for `index`, wired to the window's run signals.
QThread *createTest(int index, MainWindowForm *ui, QObject *window);
