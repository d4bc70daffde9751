#pragma once

// Qt
#include <QString>

// Where the tests find their data. The shared corpus and photos lie beside
// the repository; tests that need them skip with a clear message when they
// are missing.
QString SharedDir();            // the shared test data beside the repository
QString CorpusDir();            // the corpus folder of the shared data
QString PhotosDir();            // the photos folder of the shared data
QString SourceDir();            // the repository
QString TestsDir();             // the repository's tests/
QString BinaryDir();            // the build folder

// QSKIP-style guard: returns false (and prints why) when the corpus is absent.
bool HaveCorpus();
