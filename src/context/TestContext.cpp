#include "context/TestContext.h"

// Statically allocated: constructed before main(), destroyed by the exit handlers.
TestContextData TestContext;
