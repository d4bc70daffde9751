#pragma once

// Qt
#include <QStringList>

// The command-line gallery tool: parses the arguments, runs the generator
// and returns the exit code (0 done, 1 error, 2 invalid settings).
int RunGalleryTool(const QStringList &arguments);
