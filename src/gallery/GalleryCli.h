#pragma once

// Qt
#include <QStringList>

// The command-line gallery tool, tamsel-gallery: parses the arguments (the
// program name first), runs the generator with a progress line on a
// terminal, and returns the exit code: 0 done, 1 error, 2 invalid arguments
// or settings, 130 stopped by Ctrl+C. See docs/gallery.md.
int RunGalleryTool(const QStringList &arguments);

// Whether the arguments ask for the index page to be opened, which needs a
// GUI application object.
bool GalleryToolOpensBrowser(const QStringList &arguments);
