zerbrak_add_test(tst_encode SOURCES tst_encode.cpp LIBS zerbrak_codec LABELS unit)

# The test reads TIFF and JPEG 2000 back with the libraries themselves, since Qt has no
# reader for either here.
if(NOT TARGET TIFF::TIFF)
    find_package(TIFF REQUIRED)
endif()
if(NOT TARGET PkgConfig::OPENJPEG)
    pkg_check_modules(OPENJPEG REQUIRED IMPORTED_TARGET libopenjp2)
endif()
target_link_libraries(tst_encode PRIVATE TIFF::TIFF PkgConfig::OPENJPEG)
