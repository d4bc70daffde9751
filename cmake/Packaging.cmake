# What an installation holds beside the programs and their data, and the
# Debian package of it all (cmake --build build --target package).

# Who the package comes from: the domain of the home page.
string(REGEX REPLACE "^www\\." "" tamsel_domain "${TAMSEL_HOME_HOST}")
set(TAMSEL_PACKAGE_EMAIL "packages@${tamsel_domain}")
set(TAMSEL_PACKAGE_MAINTAINER "Tamsel Photo Editor packagers <${TAMSEL_PACKAGE_EMAIL}>")

# The AppStream component id, the home page's domain reversed
# (www.tamsel-photo.example gives example.tamsel_photo.TamselPhotoEditor).
string(REPLACE "." ";" tamsel_domain_parts "${tamsel_domain}")
list(REVERSE tamsel_domain_parts)
list(JOIN tamsel_domain_parts "." tamsel_reversed)
string(REPLACE "-" "_" tamsel_reversed "${tamsel_reversed}")
set(TAMSEL_APPSTREAM_ID "${tamsel_reversed}.TamselPhotoEditor")

# The media types the program opens are listed once, in the desktop entry;
# the AppStream entry takes them from there.
file(STRINGS ${CMAKE_SOURCE_DIR}/resources/tamsel-photo-editor.desktop.in tamsel_mime_line REGEX "^MimeType=")
# (file(STRINGS) keeps the line's semicolons escaped, so the types are
# picked out by their form.)
string(REGEX MATCHALL "[a-z]+/[-+.a-zA-Z0-9]+" tamsel_mime_types "${tamsel_mime_line}")
list(LENGTH tamsel_mime_types tamsel_mime_count)
if(tamsel_mime_count LESS 2)
  message(FATAL_ERROR "No MimeType line read from the desktop entry: '${tamsel_mime_line}'")
endif()
list(TRANSFORM tamsel_mime_types REPLACE "(.+)" "    <mediatype>\\1</mediatype>")
list(JOIN tamsel_mime_types "\n" TAMSEL_METAINFO_MEDIATYPES)
configure_file(resources/tamsel-photo-editor.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/${TAMSEL_APPSTREAM_ID}.metainfo.xml @ONLY)
configure_file(resources/debian/copyright.in ${CMAKE_BINARY_DIR}/package/copyright @ONLY)
configure_file(resources/debian/changelog.in ${CMAKE_BINARY_DIR}/package/changelog @ONLY)

# Manual pages and the changelog go in compressed, without a time stamp
# (gzip -n), as Debian's tools want them.
find_program(TAMSEL_GZIP gzip REQUIRED)
set(tamsel_gzipped "")
foreach(source resources/man/tamsel-photo-editor.1 resources/man/tamsel-gallery.1
               ${CMAKE_BINARY_DIR}/package/changelog)
  get_filename_component(name ${source} NAME)
  set(plain ${CMAKE_BINARY_DIR}/package/gz/${name})
  add_custom_command(OUTPUT ${plain}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${plain}
    COMMAND ${TAMSEL_GZIP} -9nf ${plain}
    DEPENDS ${source}
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    VERBATIM)
  list(APPEND tamsel_gzipped ${plain}.gz)
endforeach()
add_custom_target(tamsel_gzipped_docs ALL DEPENDS ${tamsel_gzipped})

install(FILES ${CMAKE_BINARY_DIR}/${TAMSEL_APPSTREAM_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES resources/icons/tamsel-photo-editor-48.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps RENAME tamsel-photo-editor.png)
install(FILES resources/icons/tamsel-photo-editor-128.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps RENAME tamsel-photo-editor.png)
install(FILES ${CMAKE_BINARY_DIR}/package/gz/tamsel-photo-editor.1.gz ${CMAKE_BINARY_DIR}/package/gz/tamsel-gallery.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/package/copyright ${CMAKE_BINARY_DIR}/package/gz/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tamsel-photo-editor)

# The package: both programs and everything above, below /usr.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tamsel-photo-editor)
set(CPACK_PACKAGE_VENDOR Brenmark)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "fast picture viewer with an HTML web gallery generator")
set(CPACK_PACKAGE_DESCRIPTION
"Tamsel Photo Editor opens a picture or a folder and steps through its
pictures at the speed of a key press. It copies, moves, trashes and
deletes their files, copies pictures to the clipboard, and turns a
chosen, ordered set of photos into a static HTML web gallery with
thumbnails, resized photos and a choice of colour schemes.

It reads JPEG photos (progressive, arithmetic-coded, grayscale and
CMYK ones too), Windows bitmaps, icons, and WMF, EMF and EMF+
metafiles, stands photos upright by their EXIF orientation and converts
embedded colour profiles to sRGB.

The package also holds tamsel-gallery, the gallery generator as a
command-line tool.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TAMSEL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://${TAMSEL_HOME_HOST}/")
# The libraries the programs link, as dpkg-shlibdeps finds them (Qt's
# platform plugins come with libqt6gui6); the desktop's opener shows the
# finished gallery, and when all picture formats are shown Qt's image plugins
# read WebP and TIFF pictures, libavif and libheif (opened on first use, so
# not seen by dpkg-shlibdeps) AVIF and HEIF pictures.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "xdg-utils, qt6-image-formats-plugins, ${TAMSEL_AVIF_PACKAGE}, ${TAMSEL_HEIF_PACKAGE}")
include(CPack)
