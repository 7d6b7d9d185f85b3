#pragma once

#include "sequences/TestDAC.h"
#include "sequences/TestISINK.h"

// The tests offered in the window's test list, by list index.
inline bool isKnownTest(int index)
{
    return index == 0 || index == 1;
}

// The kind of the test at `index`, null for an index the list does not have.
// Its title, not the list's translated entry, heads the result file.
inline const TestKind *testKindAt(int index)
{
    switch (index) {
    case 0:
        return &dacTestKind();
    case 1:
        return &isinkTestKind();
    default:
        return nullptr;
    }
}

// Creates the test object for `index`, wired to the window's run signals;
// null for an index the list does not have.
template <class Window> QThread *createTest(int index, RunDisplay *ui, Window *window)
{
    switch (index) {
    case 0:
        return new TestDAC(ui, window);
    case 1:
        return new TestISINK(ui, window);
    default:
        return nullptr;
    }
}
