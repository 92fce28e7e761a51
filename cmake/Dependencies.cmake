# Every library comes from Debian's packages (scripts/setup installs them).
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

pkg_check_modules(TURBOJPEG REQUIRED IMPORTED_TARGET libturbojpeg)
pkg_check_modules(LCMS2 REQUIRED IMPORTED_TARGET lcms2)
pkg_check_modules(PNG REQUIRED IMPORTED_TARGET libpng16)
pkg_check_modules(GIF REQUIRED IMPORTED_TARGET libgif)
pkg_check_modules(TIFF REQUIRED IMPORTED_TARGET libtiff-4)
pkg_check_modules(JXR REQUIRED IMPORTED_TARGET libjxr)
pkg_check_modules(ZLIB REQUIRED IMPORTED_TARGET zlib)
pkg_check_modules(X11 REQUIRED IMPORTED_TARGET x11)

# libyuv ships no pkg-config file.
find_library(YUV_LIBRARY yuv REQUIRED)
find_path(YUV_INCLUDE_DIR libyuv.h REQUIRED)
add_library(Skimora::yuv UNKNOWN IMPORTED)
set_target_properties(Skimora::yuv PROPERTIES IMPORTED_LOCATION ${YUV_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${YUV_INCLUDE_DIR})

if(BUILD_TESTING)
    find_package(GTest CONFIG REQUIRED)
endif()

# Further decoder families.
pkg_check_modules(WEBP REQUIRED IMPORTED_TARGET libwebp libwebpdemux)
pkg_check_modules(HEIF REQUIRED IMPORTED_TARGET libheif)
pkg_check_modules(AVIF REQUIRED IMPORTED_TARGET libavif)
pkg_check_modules(JXL REQUIRED IMPORTED_TARGET libjxl libjxl_threads)
pkg_check_modules(LIBRAW REQUIRED IMPORTED_TARGET libraw_r)
pkg_check_modules(OPENJPEG REQUIRED IMPORTED_TARGET libopenjp2)
pkg_check_modules(DE265 REQUIRED IMPORTED_TARGET libde265)
pkg_check_modules(RSVG REQUIRED IMPORTED_TARGET librsvg-2.0)
find_package(tinyexr CONFIG REQUIRED)

# FreeImage ships no pkg-config file.
find_library(FREEIMAGE_LIBRARY freeimage REQUIRED)
find_path(FREEIMAGE_INCLUDE_DIR FreeImage.h REQUIRED)
add_library(Skimora::freeimage UNKNOWN IMPORTED)
set_target_properties(Skimora::freeimage PROPERTIES IMPORTED_LOCATION ${FREEIMAGE_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${FREEIMAGE_INCLUDE_DIR})

# Archives: 7-Zip's own library is loaded at run time (dlopen); libarchive reads RAR.
pkg_check_modules(LIBARCHIVE REQUIRED IMPORTED_TARGET libarchive)

# MuPDF is packaged as static archives only; its third-party libraries come from the static flags,
# and its HarfBuzz is the system's shared one.
pkg_check_modules(MUPDF REQUIRED mupdf)
add_library(Skimora::mupdf INTERFACE IMPORTED)
set_target_properties(Skimora::mupdf PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${MUPDF_STATIC_INCLUDE_DIRS}"
    INTERFACE_LINK_LIBRARIES "${MUPDF_STATIC_LDFLAGS};-l:libharfbuzz.so.0")
