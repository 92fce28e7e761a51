# Installation into a prefix (cmake --install BUILD --prefix P) and the Debian package (cpack -G DEB).
# The program finds its icons relative to its own executable (bin/../share/skimora/icons), so the
# prefix may be moved after installing.
include(GNUInstallDirs)

set(SKIMORA_APP_ID io.github.skimora.Skimora)
set(packaging_dir ${CMAKE_SOURCE_DIR}/packaging)
set(generated_dir ${CMAKE_BINARY_DIR}/packaging)

install(TARGETS skimora skimora-decode skimora-thumbnailer RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/assets/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/skimora/icons)
install(FILES ${packaging_dir}/skimora.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging_dir}/skimora.thumbnailer DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers)

configure_file(${packaging_dir}/skimora.metainfo.xml ${generated_dir}/${SKIMORA_APP_ID}.metainfo.xml @ONLY)
install(FILES ${generated_dir}/${SKIMORA_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The manual page, compressed reproducibly as Debian ships them.
configure_file(${packaging_dir}/skimora.1 ${generated_dir}/skimora.1 @ONLY)
add_custom_command(OUTPUT ${generated_dir}/skimora.1.gz
    COMMAND gzip -9nf -k ${generated_dir}/skimora.1
    DEPENDS ${generated_dir}/skimora.1
    COMMENT "Compressing the manual page")
set(package_data ${generated_dir}/skimora.1.gz)
install(FILES ${generated_dir}/skimora.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The application icon in the hicolor theme: the SVG as the scalable icon, PNGs rendered from it at the
# usual sizes (rsvg-convert, else ImageMagick).
install(FILES ${CMAKE_SOURCE_DIR}/assets/icons/skimora.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
find_program(SKIMORA_RSVG_CONVERT rsvg-convert)
find_program(SKIMORA_MAGICK NAMES magick convert)
foreach(size 16 22 24 32 48 64 128 256 512)
    set(png ${generated_dir}/hicolor/${size}x${size}/skimora.png)
    if(SKIMORA_RSVG_CONVERT)
        set(render ${SKIMORA_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${CMAKE_SOURCE_DIR}/assets/icons/skimora.svg)
    elseif(SKIMORA_MAGICK)
        set(render ${SKIMORA_MAGICK} -background none -density 384 ${CMAKE_SOURCE_DIR}/assets/icons/skimora.svg
            -resize ${size}x${size} ${png})
    else()
        message(WARNING "Neither rsvg-convert nor ImageMagick found: only the scalable icon is installed")
        break()
    endif()
    add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${generated_dir}/hicolor/${size}x${size}
        COMMAND ${render}
        DEPENDS ${CMAKE_SOURCE_DIR}/assets/icons/skimora.svg
        COMMENT "Rendering the ${size}x${size} application icon")
    list(APPEND package_data ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(skimora_package_data ALL DEPENDS ${package_data})

# cpack -G DEB in the build folder gives skimora_VERSION_amd64.deb; its Depends come from the linked
# libraries (dpkg-shlibdeps), plus the 7-Zip library the archive bridge loads at run time.
set(CPACK_PACKAGE_NAME skimora)
set(CPACK_PACKAGE_VENDOR "Skimora")
set(CPACK_PACKAGE_CONTACT "Skimora developers <skimora@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ultra-fast image viewer for images, comic-book archives and PDFs")
set(CPACK_PACKAGE_DESCRIPTION "Skimora opens an image, a folder, an archive (zip, comic-book archives, RAR, 7z, \
ALZ, EGG) or a PDF document and turns through its pages instantly, decoding on background threads and \
prefetching the neighbours. It also provides a thumbnailer for archives and uncommon image formats.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "p7zip-full")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-nanum")
include(CPack)
