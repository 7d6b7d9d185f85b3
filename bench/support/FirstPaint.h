#pragma once

class QWidget;

// Shows `window` and returns once it has been exposed and painted, or after
// `timeoutMs`; false on the time-out.
bool showAndWaitForFirstPaint(QWidget *window, int timeoutMs = 5000);
