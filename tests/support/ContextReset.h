#pragma once

// Puts the program-wide TestContext back into its start-of-process state, so
// that test functions in one process do not see each other's runs.
void resetTestContext();
