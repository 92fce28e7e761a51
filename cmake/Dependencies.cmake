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
