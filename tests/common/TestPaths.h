#pragma once

// Qt
#include <QString>

// Where the tests find their data. The shared corpus and photos lie beside
// the repository; tests that need them skip with a clear message when they
// are missing.
QString SharedDir();            // .../shared
QString CorpusDir();            // .../shared/corpus
QString PhotosDir();            // .../shared/photos
QString SourceDir();            // the repository
QString TestsDir();             // the repository's tests/
QString BinaryDir();            // the build folder

// QSKIP-style guard: returns false (and prints why) when the corpus is absent.
bool HaveCorpus();
