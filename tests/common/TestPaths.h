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

// The Trash folder of the suite's own home, for tests that empty or inspect
// it. Stops the suite when the home is not the one ctest gives it (the suite
// was started by hand), so that no test ever touches a real user's Trash.
QString TestTrashFolder();

// QSKIP-style guard: returns false (and prints why) when the corpus is absent.
bool HaveCorpus();
