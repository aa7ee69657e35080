# `cpack -G DEB` in the build directory makes a Debian package from the install
# rules: the program, its menu entry and its icons under /usr.
set(CPACK_PACKAGE_NAME quillmoor)
set(CPACK_PACKAGE_VENDOR "Quillmoor")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Récupère les images des sites internet")
# Lines of at most 80 columns, as Debian's tools show them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Quillmoor récupère les images d'un site web : une adresse de départ, la"
    "profondeur des liens à suivre, un identifiant pour un site protégé, des"
    "motifs de noms de fichiers à prendre ou à laisser, une destination à plat"
    "ou en arborescence. Les extractions enregistrées s'exécutent à la demande"
    "ou selon leur planification, depuis la zone de notification."
    ""
    "Quillmoor retrieves the images of web sites, now or on a schedule, from"
    "the notification area."
)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(QUILLMOOR_MAINTAINER "Quillmoor <quillmoor@example.org>" CACHE STRING "Maintainer named in the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QUILLMOOR_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries the program links (Qt, libcurl, the C++ runtime) become its
# dependencies, read from the binary by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded by Qt when the journal's thumbnails are made, so dpkg-shlibdeps cannot
# see them: the SVG reader of QtSvg, and WebP, TIFF and others.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, qt6-image-formats-plugins")
# The folders of the icon theme the icons go into.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS hicolor-icon-theme)

set(CPACK_GENERATOR DEB)
include(CPack)
