# The command-line tests run the built tool beside its schemes folder.
add_dependencies(tst_GalleryCli tamsel-gallery tamsel_data)
add_dependencies(tst_GalleryFaults tamsel-gallery tamsel_data)

# A generated gallery as a browser shows it: headless Chromium opens it from
# disk. Skips with a message when Chromium is not installed.
tamsel_add_qtest(tst_GalleryBrowser
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/browser/tst_GalleryBrowser.cpp
  LIBS tamsel_gallery
  LABELS browser
  TIMEOUT 300)
