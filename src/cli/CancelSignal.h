#pragma once

// SIGINT and SIGTERM only raise a flag; the run polls it between items and then
// ends as a cancelled run does (end line, project saved).
void InstallCancelSignalHandlers();
bool CancelSignalReceived();
